// Karvel's program-wide state with its program-load values.
#include "latency/state.hpp"

#include "dsp/adaptive.hpp"

#include <algorithm>
#include <iterator>

namespace latency {

float stimulus_history[2 * tap_count + 1] = {};
int64_t history_pos = 0;
int64_t update_pos = 0;
float tap_weights[tap_count + 1] = {};
float stimulus_power = 1.0f;  // a large start keeps the first updates small
int64_t reset_pending = 1;
float display_snapshot[tap_count + 1] = {};
int64_t trace_prev_y = 100;
int64_t readout_length[4] = {};

void latency_reset_state()
{
    nlms_reset(stimulus_history, tap_weights, tap_count, history_pos, update_pos, stimulus_power);
    reset_pending = 1;
    std::fill(std::begin(display_snapshot), std::end(display_snapshot), 0.0f);
    trace_prev_y = 100;
    std::fill(std::begin(readout_length), std::end(readout_length), 0);
}

}  // namespace latency
