// Test helpers for Karvel's callback: a fresh run, an independent re-derivation
// of the stimulus, and a simulated loop from output 1 back to input 1.
#pragma once
#include <portaudio.h>

#include <cstdint>

#include "common/callback_driver.hpp"
#include "common/loop_cable.hpp"
#include "common/program_state.hpp"
#include "dsp/noise.hpp"
#include "frame/handshake.hpp"
#include "latency/callback.hpp"
#include "latency/display.hpp"
#include "latency/state.hpp"

// Program-load state of everything the callback touches (snapshot frozen).
inline void fresh_run() { karvel_state_reset(); }

// The loop cable on Karvel's callback: output 1 back to input 1 as
// gain * x(t - delay), the gain carrying the polarity.
struct simulated_loop : loop_cable {
    simulated_loop(int64_t delay_frames, float gain) : loop_cable(latency_callback, delay_frames, {gain}) {}
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
