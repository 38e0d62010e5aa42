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

// Real-time: runs on the audio thread once per frame; no allocation, lock, wait
// or print. The first call only clears the ring and plays silence.
int analyser_callback(const void* input, void* output, unsigned long /*frame_count*/,
                      const PaStreamCallbackTimeInfo* /*time_info*/, PaStreamCallbackFlags /*status_flags*/,
                      void* /*user_data*/)
{
    using namespace rtresponse;
    const float* in = static_cast<const float*>(input);
    float* out = static_cast<float*>(output);

    if (reset_pending == 1) {
        reset_pending = 0;
        std::fill_n(capture_ring, 2048, 0.0f);
        if (out) {
            out[0] = 0.0f;
            out[1] = 0.0f;
        }
        return paContinue;
    }

    sweep_pos = (sweep_pos + 1) % 2048;
    // Rounding: the 0.3 scaling is formed in double and stored as float. A
    // missing input buffer counts as silence.
    const float captured = in ? in[0] : 0.0f;
    capture_ring[sweep_pos] = static_cast<float>(static_cast<double>(captured) * 0.3);
    // The software loopback replaces the capture by the sample being played, sent
    // through the two-sample delay and the high-pass; otherwise the filters stay idle.
    if (loopback_mode == 0)
        capture_ring[sweep_pos] = highpass_biquad(delay2(sweep_table[sweep_pos]));

    if (out) {
        out[0] = sweep_table[sweep_pos];
        out[1] = 0.0f;
    }

    // An 8 KiB straight copy on every call while no refresh holds the snapshot.
    snapshot_publish(capture_ring, display_snapshot, 2048);
    return paContinue;
}
