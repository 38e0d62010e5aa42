// Morvane's stream callback: white-noise stimulus and the normalised-LMS model
// of the loop, one frame at a time on PortAudio's audio thread.
//
// Real-time code: everything here runs 48000 times a second. No allocation,
// lock, print or wait; the only shared data go through snapshot_publish.
#include <algorithm>
#include <cmath>
#include <iterator>

#include "dsp/filters.hpp"
#include "dsp/noise.hpp"
#include "dsp/vector.hpp"
#include "frame/handshake.hpp"
#include "response/response.hpp"
#include "rtresponse/shared_response.hpp"

namespace {

using namespace response;

constexpr double power_memory = 0.99995;             // forgetting factor: 20000 frames, 0.42 s
constexpr double power_weight = 1.0 - power_memory;  // evaluated in double, as the average needs it
static_assert(power_weight == 4.999999999999449e-05);
constexpr double step_constant = 2e-6;  // mu / taps, with the power standing for the window energy

// First frame of the run: empties the history and the taps. Power, ring
// positions, generators, loopback filters and snapshot keep their values.
void clear_model()
{
    std::fill(std::begin(stimulus_history), std::end(stimulus_history), 0.0f);
    std::fill(std::begin(tap_weights), std::end(tap_weights), 0.0f);
}

// One measured frame: takes the captured sample, draws the stimulus, predicts
// the capture from the stimulus history and adapts the taps by the error.
// Returns the stimulus sample for output 1.
float process_frame(float captured)
{
    // A non-finite sample (a broken driver) would turn every tap into NaN for
    // the rest of the run; it counts as silence instead.
    float x = std::isfinite(captured) ? captured : 0.0f;
    const float s = noise_stimulus_sample();
    // The software loopback replaces the capture by the stimulus through the
    // two-sample delay and the high-pass; otherwise the filters stay idle.
    if (loopback_mode == 0)
        x = highpass_biquad(delay2(s));
    const float y = delay_line_dot(s, stimulus_history, tap_weights, tap_count, history_pos);
    const float e = x - y;
    // Rounding: the power and the step in double precision, each stored as float;
    // the step divides by the power just stored.
    const double s_double = s;
    stimulus_power = static_cast<float>(static_cast<double>(stimulus_power) * power_memory +
                                        (s_double * s_double) * power_weight);
    const float step = static_cast<float>(static_cast<double>(e) * step_constant / static_cast<double>(stimulus_power));
    ring_axpy(tap_weights, step, stimulus_history, tap_count, update_pos);
    return s;
}

}  // namespace

// Handles every frame of the buffer in turn (the stream asks for one per call).
// Input channel 2 is ignored; output channel 2 is always silent. A missing
// input buffer counts as silence.
int response_callback(const void* input, void* output, unsigned long frame_count,
                      const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void*)
{
    const float* in = static_cast<const float*>(input);
    float* out = static_cast<float*>(output);
    bool adapted = false;
    for (unsigned long frame = 0; frame < frame_count; frame++) {
        float played = 0.0f;
        if (reset_pending == 1) {
            reset_pending = 0;
            clear_model();  // this frame plays silence and takes no stimulus sample
        } else {
            played = process_frame(in ? in[2 * frame] : 0.0f);
            adapted = true;
        }
        if (out) {
            out[2 * frame] = played;
            out[2 * frame + 1] = 0.0f;
        }
    }
    // An 8 KiB straight copy per call while no refresh holds the snapshot; the
    // clearing call publishes nothing.
    if (adapted)
        snapshot_publish(tap_weights, display_snapshot, static_cast<size_t>(tap_count));
    return paContinue;
}
