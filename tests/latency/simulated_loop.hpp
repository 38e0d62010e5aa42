// Test helpers for Karvel's callback: a fresh run, an independent re-derivation
// of the stimulus, and a simulated loop from output 1 back to input 1.
#pragma once
#include <portaudio.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "common/callback_driver.hpp"
#include "dsp/noise.hpp"
#include "frame/handshake.hpp"
#include "latency/latency.hpp"
#include "latency/state.hpp"

// Program-load state of everything the callback touches (snapshot frozen).
inline void fresh_run()
{
    latency::latency_reset_state();
    rand_reset();
    snapshot_reset();
}

// One callback call for one frame; returns the output frame.
inline frame_out call_once(float in_left, float in_right = 0.0f)
{
    return call_frame(latency_callback, in_left, in_right);
}

// A loop that returns output 1 to input 1 as gain * x(t - delay) (gain carries
// the polarity), or silence. The stimulus of every processed frame is known in
// advance from reference_noise, so a delay of 0 frames can be simulated too
// (delays up to 4095 frames).
// Input channel 2 carries a constant that the callback must ignore.
struct simulated_loop {
    int64_t delay;
    float gain;
    bool silent = false;
    float input_right = 0.75f;
    int64_t glitch_frame = -1;  // this frame captures NaN and the next +infinity

    reference_noise noise;
    std::vector<float> stimulus = std::vector<float>(4096, 0.0f);  // ring of the expected stimulus
    int64_t frames = 0;             // processed frames so far (the clearing call not counted)
    bool cleared = false;           // the clearing first call has been made
    int64_t stimulus_mismatches = 0;  // output 1 differing from the re-derived stimulus
    int64_t right_not_silent = 0;     // output 2 not exactly 0

    simulated_loop(int64_t delay_frames, float loop_gain) : delay(delay_frames), gain(loop_gain) {}

    // Makes the clearing call (when not yet made) and then runs count frames.
    void run(int64_t count)
    {
        if (!cleared) {
            const frame_out out = call_once(0.5f, input_right);
            stimulus_mismatches += out.left != 0.0f;
            right_not_silent += out.right != 0.0f;
            cleared = true;
        }
        for (int64_t i = 0; i < count; i++) {
            const int64_t t = frames++;
            const float x = noise.next();
            stimulus[t & 4095] = x;
            float captured = 0.0f;
            if (!silent && t >= delay)
                captured = gain * stimulus[(t - delay) & 4095];
            if (t == glitch_frame)
                captured = std::numeric_limits<float>::quiet_NaN();
            if (t == glitch_frame + 1)
                captured = std::numeric_limits<float>::infinity();
            const frame_out out = call_once(captured, input_right);
            stimulus_mismatches += out.left != x;
            right_not_silent += out.right != 0.0f;
        }
    }
};

// Index and magnitude of the largest |w[k]| of the published taps, lowest index first.
struct tap_peak {
    int64_t index = 0;
    float magnitude = 0.0f;
    float value = 0.0f;
};
inline tap_peak largest_tap(const float* taps)
{
    tap_peak peak;
    for (int64_t k = 0; k < latency::tap_count; k++) {
        const float m = taps[k] < 0 ? -taps[k] : taps[k];
        if (peak.magnitude < m)
            peak = {k, m, taps[k]};
    }
    return peak;
}
