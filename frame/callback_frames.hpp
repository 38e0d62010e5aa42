// The frame loop of the programs' stream callbacks.
#pragma once
#include <portaudio.h>

#include <cstddef>
#include <cstdint>

#include "frame/handshake.hpp"

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

// A stream callback's whole body: the frame loop, then, when a frame was
// processed, one publication of count floats from source to snapshot (so the
// clearing call publishes nothing). Always paContinue. Real-time code.
template <class Clear, class Process>
int callback_run(const void* input, void* output, unsigned long frame_count, int64_t& reset_pending, Clear clear,
                 Process process, const float* source, float* snapshot, size_t count)
{
    if (callback_frames(input, output, frame_count, reset_pending, clear, process))
        snapshot_publish(source, snapshot, count);
    return paContinue;
}
