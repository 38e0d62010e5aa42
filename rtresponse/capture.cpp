// The analyser's stream callback: plays the sweep and captures one period of the
// loop's answer in a ring in step with it.
//
// Real-time code: everything here runs 48000 times a second. No allocation,
// lock, print or wait; the only shared data go through snapshot_publish.
#include <algorithm>
#include <iterator>

#include "dsp/filters.hpp"
#include "frame/callback_frames.hpp"
#include "rtresponse/capture.hpp"
#include "rtresponse/state.hpp"

namespace {

// One frame after the clearing call: advances the position, captures input 1
// (or the software loopback) into the ring and returns the sweep sample to play.
float process_frame(float captured)
{
    using namespace rtresponse;
    sweep_pos = (sweep_pos + 1) % 2048;
    // Rounding: the 0.3 scaling is formed in double and stored as float.
    capture_ring[sweep_pos] = static_cast<float>(static_cast<double>(captured) * 0.3);
    // The software loopback replaces the capture by the sample being played, sent
    // through the two-sample delay and the high-pass; otherwise the filters stay idle.
    if (loopback_mode == 0)
        capture_ring[sweep_pos] = highpass_biquad(delay2(sweep_table[sweep_pos]));
    return sweep_table[sweep_pos];
}

// Empties the ring on the first frame of the run.
void clear_ring() { std::fill_n(rtresponse::capture_ring, 2048, 0.0f); }

}  // namespace

int analyser_callback(const void* input, void* output, unsigned long frame_count,
                      const PaStreamCallbackTimeInfo* /*time_info*/, PaStreamCallbackFlags /*status_flags*/,
                      void* /*user_data*/)
{
    return callback_run(input, output, frame_count, rtresponse::reset_pending, clear_ring, process_frame,
                        rtresponse::capture_ring, rtresponse::display_snapshot, 2048);
}
