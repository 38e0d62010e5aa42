// Morvane's stream callback: white-noise stimulus and the normalised-LMS model
// of the loop, one frame at a time on PortAudio's audio thread.
//
// Real-time code: everything here runs 48000 times a second. No allocation,
// lock, print or wait; the only shared data go through snapshot_publish.
#include "response/callback.hpp"
#include "dsp/adaptive.hpp"
#include "dsp/filters.hpp"
#include "dsp/noise.hpp"
#include "frame/callback_frames.hpp"
#include "response/state.hpp"
#include "rtresponse/state.hpp"

namespace {

using namespace response;

constexpr double power_memory = 0.99995;  // forgetting factor: 20000 frames, 0.42 s
constexpr double step_constant = 2e-6;    // mu / taps, with the power standing for the window energy

// First frame of the run: empties the history and the taps. Power, ring
// positions, generators, loopback filters and snapshot keep their values.
void clear_model() { nlms_clear(stimulus_history, tap_weights, tap_count); }

// One measured frame: draws the stimulus and adapts the model to the capture.
// Returns the stimulus sample for output 1.
float process_frame(float captured)
{
    const float s = noise_stimulus_sample();
    // The software loopback replaces the capture by the stimulus through the
    // two-sample delay and the high-pass; otherwise the filters stay idle.
    if (rtresponse::loopback_mode == 0)
        captured = highpass_biquad(delay2(s));
    nlms_step(s, captured, stimulus_history, tap_weights, tap_count, history_pos, update_pos, stimulus_power,
              power_memory, step_constant);
    return s;
}

}  // namespace

int response_callback(const void* input, void* output, unsigned long frame_count, const PaStreamCallbackTimeInfo*,
                      PaStreamCallbackFlags, void*)
{
    return callback_run(input, output, frame_count, reset_pending, clear_model, process_frame, tap_weights,
                        rtresponse::display_snapshot, static_cast<size_t>(tap_count));
}
