// The real-time analyser's program-wide state with its program-load values.
#include "rtresponse/state.hpp"

#include <algorithm>
#include <iterator>

namespace rtresponse {

float sweep_table[2049] = {};
float capture_ring[2049] = {};
int64_t sweep_pos = 0;
int64_t reset_pending = 1;
float display_snapshot[2049] = {};
float spectrum_re[2049] = {};
float spectrum_im[2049] = {};
int64_t loopback_mode = -1;
int64_t response_buffer_frames = 64;
int64_t trace_prev_y = 0;

void state_reset()
{
    std::fill(std::begin(sweep_table), std::end(sweep_table), 0.0f);
    std::fill(std::begin(capture_ring), std::end(capture_ring), 0.0f);
    sweep_pos = 0;
    reset_pending = 1;
    std::fill(std::begin(display_snapshot), std::end(display_snapshot), 0.0f);
    std::fill(std::begin(spectrum_re), std::end(spectrum_re), 0.0f);
    std::fill(std::begin(spectrum_im), std::end(spectrum_im), 0.0f);
    loopback_mode = -1;
    response_buffer_frames = 64;
    trace_prev_y = 0;
}

}  // namespace rtresponse
