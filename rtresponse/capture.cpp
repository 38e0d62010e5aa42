// The analyser's stream callback: plays the sweep and captures one period of the
// loop's answer in a ring in step with it.
#include <algorithm>
#include <iterator>

#include "dsp/filters.hpp"
#include "frame/handshake.hpp"
#include "rtresponse/analyser.hpp"
#include "rtresponse/shared_response.hpp"

namespace rtresponse {

float capture_ring[2049] = {};
int64_t sweep_pos = 0;
int64_t reset_pending = 1;

// Back to the program-load state (the sweep too, so it must be built again).
void analyser_reset()
{
    std::fill(std::begin(sweep_table), std::end(sweep_table), 0.0f);
    std::fill(std::begin(capture_ring), std::end(capture_ring), 0.0f);
    sweep_pos = 0;
    reset_pending = 1;
}

}  // namespace rtresponse

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

}  // namespace

// Real-time: runs on the audio thread, one frame per call as the stream asks
// (a longer buffer is handled frame by frame); no allocation, lock, wait or
// print. The first frame only clears the ring and plays silence. A missing
// input buffer counts as silence.
int analyser_callback(const void* input, void* output, unsigned long frame_count,
                      const PaStreamCallbackTimeInfo* /*time_info*/, PaStreamCallbackFlags /*status_flags*/,
                      void* /*user_data*/)
{
    using namespace rtresponse;
    const float* in = static_cast<const float*>(input);
    float* out = static_cast<float*>(output);
    bool captured = false;
    for (unsigned long frame = 0; frame < frame_count; frame++) {
        float played = 0.0f;
        if (reset_pending == 1) {
            reset_pending = 0;
            std::fill_n(capture_ring, 2048, 0.0f);
        } else {
            played = process_frame(in ? in[2 * frame] : 0.0f);
            captured = true;
        }
        if (out) {
            out[2 * frame] = played;
            out[2 * frame + 1] = 0.0f;
        }
    }
    // An 8 KiB straight copy per call while no refresh holds the snapshot; the
    // clearing call publishes nothing.
    if (captured)
        snapshot_publish(capture_ring, display_snapshot, 2048);
    return paContinue;
}
