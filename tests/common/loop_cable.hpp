// A simulated loop cable for the tests of the adaptive-filter callbacks.
#pragma once
#include <portaudio.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "common/callback_driver.hpp"

// A loop that feeds callback's output 1 back to its input 1 through an FIR
// path: taps path[j] at a delay of delay + j frames, or silence. The stimulus
// of every processed frame is known in advance from reference_noise, so a
// delay of 0 frames can be simulated too (paths up to 8191 frames long).
struct loop_cable {
    PaStreamCallback* callback;
    int64_t delay;
    std::vector<float> path;
    bool silent = false;
    float input_right = 0.75f;               // input channel 2: must be ignored
    bool noisy_right = false;                // input channel 2 full-scale noise instead
    std::vector<int64_t> non_finite_frames;  // these frames capture NaN, +inf, -inf in turn
    bool non_finite_as_silence = false;      // ... or exact silence instead

    reference_noise noise;
    reference_noise right_noise{0x1234567u, 0x89ABCDEu};
    std::vector<float> stimulus = std::vector<float>(8192, 0.0f);  // ring of the expected stimulus
    int64_t frames = 0;               // processed frames so far (the clearing call not counted)
    bool cleared = false;             // the clearing first call has been made
    int64_t stimulus_mismatches = 0;  // output 1 differing from the re-derived stimulus
    int64_t right_not_silent = 0;     // output 2 not exactly 0

    loop_cable(PaStreamCallback* program_callback, int64_t delay_frames, std::vector<float> taps)
        : callback(program_callback), delay(delay_frames), path(std::move(taps))
    {
    }

    // The captured sample of frame t (its stimulus already in the ring).
    float capture(int64_t t)
    {
        if (silent)
            return 0.0f;
        const auto glitch = std::find(non_finite_frames.begin(), non_finite_frames.end(), t);
        if (glitch != non_finite_frames.end()) {
            if (non_finite_as_silence)
                return 0.0f;
            const float bad[3] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                                  -std::numeric_limits<float>::infinity()};
            return bad[(glitch - non_finite_frames.begin()) % 3];
        }
        float sum = 0.0f;
        for (size_t j = 0; j < path.size(); j++) {
            const int64_t source = t - delay - static_cast<int64_t>(j);
            if (source >= 0)
                sum += path[j] * stimulus[source & 8191];
        }
        return sum;
    }

    // Makes the clearing call (when not yet made) and then runs count frames.
    void run(int64_t count)
    {
        if (!cleared) {
            const frame_out out = call_frame(callback, 0.5f, input_right);
            stimulus_mismatches += out.left != 0.0f;
            right_not_silent += out.right != 0.0f;
            cleared = true;
        }
        for (int64_t i = 0; i < count; i++) {
            const int64_t t = frames++;
            const float x = noise.next();
            stimulus[t & 8191] = x;
            const float right = noisy_right ? 5.0f * right_noise.next() : input_right;
            const frame_out out = call_frame(callback, capture(t), right);
            stimulus_mismatches += out.left != x;
            right_not_silent += out.right != 0.0f;
        }
    }
};
