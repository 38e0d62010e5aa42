// The frame loop of the programs' stream callbacks.
#pragma once
#include <cstdint>

// Runs a callback's buffer frame by frame: the stream asks for one frame per
// call, and a longer buffer is handled the same way. The run's first frame
// (reset_pending 1) only calls clear and plays silence; every later frame
// hands input channel 1 (silence without an input buffer) to process, which
// returns the sample for output channel 1. Output channel 2 is always silent;
// input channel 2 is never read. Returns true when a frame was processed.
// Real-time code: no allocation, lock or wait.
template <class Clear, class Process>
bool callback_frames(const void* input, void* output, unsigned long frame_count, int64_t& reset_pending, Clear clear,
                     Process process)
{
    const float* in = static_cast<const float*>(input);
    float* out = static_cast<float*>(output);
    bool processed = false;
    for (unsigned long frame = 0; frame < frame_count; frame++) {
        float played = 0.0f;
        if (reset_pending == 1) {
            reset_pending = 0;
            clear();
        } else {
            played = process(in ? in[2 * frame] : 0.0f);
            processed = true;
        }
        if (out) {
            out[2 * frame] = played;
            out[2 * frame + 1] = 0.0f;
        }
    }
    return processed;
}
