// Karvel's stream callback: white-noise stimulus and the NLMS identification of
// the loop, one frame at a time on PortAudio's audio thread.
//
// Real-time code: everything here runs 48000 times a second. No allocation,
// lock, print or wait; the only shared data go through snapshot_publish.
#include <algorithm>
#include <cmath>
#include <iterator>

#include "dsp/noise.hpp"
#include "dsp/vector.hpp"
#include "frame/handshake.hpp"
#include "latency/latency.hpp"
#include "latency/state.hpp"

namespace {

using namespace latency;

constexpr double power_memory = 0.9995;               // forgetting factor of the power average
constexpr double power_weight = 1.0 - power_memory;   // evaluated in double, as the filter needs it
static_assert(power_weight == 0.0004999999999999449);
constexpr double step_constant = 6e-6;                // mu / taps = 0.012 / 2000

// First frame of the run: empties the history and the taps. Power, ring
// positions and snapshot keep their values.
void clear_filter()
{
    std::fill(std::begin(stimulus_history), std::end(stimulus_history), 0.0f);
    std::fill(std::begin(tap_weights), std::end(tap_weights), 0.0f);
}

// One measured frame: plays the stimulus sample, predicts the captured sample
// from the history, adapts the taps by the prediction error and publishes them.
// Returns the stimulus sample for output 1.
float process_frame(float captured)
{
    const float x = noise_stimulus_sample();
    // A non-finite sample (a broken driver) would turn every tap into NaN for
    // the rest of the run; it counts as silence instead.
    const float c = std::isfinite(captured) ? captured : 0.0f;
    const float y = delay_line_dot(x, stimulus_history, tap_weights, tap_count, history_pos);
    // Double precision, then stored as float.
    const double x_double = x;
    stimulus_power = static_cast<float>(power_memory * static_cast<double>(stimulus_power) +
                                        power_weight * (x_double * x_double));
    const float e = c - y;
    const float step = static_cast<float>(static_cast<double>(e) * step_constant / static_cast<double>(stimulus_power));
    ring_axpy(tap_weights, step, stimulus_history, tap_count, update_pos);
    snapshot_publish(tap_weights, display_snapshot, static_cast<size_t>(tap_count));
    return x;
}

}  // namespace

// Handles every frame of the buffer in turn (the stream asks for one per call).
// Input channel 2 is ignored; output channel 2 is always silent.
int latency_callback(const void* input, void* output, unsigned long frame_count,
                     const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void*)
{
    const float* in = static_cast<const float*>(input);
    float* out = static_cast<float*>(output);
    for (unsigned long frame = 0; frame < frame_count; frame++) {
        float played = 0.0f;
        if (reset_pending == 1) {
            reset_pending = 0;
            clear_filter();  // this frame plays silence and takes no stimulus sample
        } else {
            played = process_frame(in ? in[2 * frame] : 0.0f);
        }
        if (out) {
            out[2 * frame] = played;
            out[2 * frame + 1] = 0.0f;
        }
    }
    return paContinue;
}
