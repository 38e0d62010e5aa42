// Karvel's stream callback: white-noise stimulus and the NLMS identification of
// the loop, one frame at a time on PortAudio's audio thread.
//
// Real-time code: everything here runs 48000 times a second. No allocation,
// lock, print or wait; the only shared data go through snapshot_publish.
#include "latency/callback.hpp"
#include "dsp/adaptive.hpp"
#include "dsp/noise.hpp"
#include "frame/callback_frames.hpp"
#include "latency/state.hpp"

namespace {

using namespace latency;

constexpr double power_memory = 0.9995;  // forgetting factor of the power average: 2000 frames
constexpr double step_constant = 6e-6;   // mu / taps = 0.012 / 2000

// First frame of the run: empties the history and the taps. Power, ring
// positions and snapshot keep their values.
void clear_filter() { nlms_clear(stimulus_history, tap_weights, tap_count); }

// One measured frame: plays the stimulus sample and adapts the taps to the
// captured one. Returns the stimulus sample for output 1.
float process_frame(float captured)
{
    const float x = noise_stimulus_sample();
    nlms_step(x, captured, stimulus_history, tap_weights, tap_count, history_pos, update_pos, stimulus_power,
              power_memory, step_constant);
    return x;
}

}  // namespace

int latency_callback(const void* input, void* output, unsigned long frame_count, const PaStreamCallbackTimeInfo*,
                     PaStreamCallbackFlags, void*)
{
    return callback_run(input, output, frame_count, reset_pending, clear_filter, process_frame, tap_weights,
                        display_snapshot, static_cast<size_t>(tap_count));
}
