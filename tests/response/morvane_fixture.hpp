// Shared set-up of Morvane's tests: every case starts from the program-load
// state of the model, the shared snapshot and work arrays, the generators, the
// loopback filters, the handshake and the FFT tables, and closes any
// framebuffer it opened. Also: an independent re-derivation of the stimulus,
// a simulated loop from output 1 back to input 1, and the framebuffer checks.
#pragma once
#include <gtest/gtest.h>
#include <portaudio.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "common/plot_probe.hpp"
#include "common/callback_driver.hpp"
#include "display/display.hpp"
#include "dsp/fft.hpp"
#include "dsp/filters.hpp"
#include "dsp/noise.hpp"
#include "frame/handshake.hpp"
#include "frame/options.hpp"
#include "response/response.hpp"
#include "rtresponse/program.hpp"
#include "rtresponse/scale.hpp"
#include "rtresponse/shared_response.hpp"

// Program-load state of everything the callback, the analysis and the display touch.
inline void fresh_run()
{
    response::response_reset_state();
    response_shared_reset();
    response_scale_select(scale_tessaly);
    rand_reset();
    loopback_filters_reset();
    snapshot_reset();
    fft_reset();
    option_set_args(0, nullptr);
    response_buffer_frames = 64;
}

class MorvaneTest : public ::testing::Test {
protected:
    void SetUp() override { fresh_run(); }
    void TearDown() override
    {
        fresh_run();
        gfx_close();
    }
};

// One callback call for one frame; returns the output frame.
inline frame_out call_once(float in_left, float in_right = 0.0f)
{
    return call_frame(response_callback, in_left, in_right);
}

// A loop that returns output 1 to input 1 through an FIR path: taps
// path[j] at a delay of delay + j frames, or silence. The stimulus of every
// processed frame is known in advance from reference_noise, so a delay of 0
// frames can be simulated too (paths up to 8191 frames long).
struct simulated_loop {
    int64_t delay;
    std::vector<float> path;
    bool silent = false;
    float input_right = 0.75f;                // input channel 2: must be ignored
    bool noisy_right = false;                 // input channel 2 full-scale noise instead
    std::vector<int64_t> non_finite_frames;   // these frames capture NaN, +inf, -inf in turn
    bool non_finite_as_silence = false;       // ... or exact silence instead

    reference_noise noise;
    reference_noise right_noise{0x1234567u, 0x89ABCDEu};
    std::vector<float> stimulus = std::vector<float>(8192, 0.0f);  // ring of the expected stimulus
    int64_t frames = 0;                // processed frames so far (the clearing call not counted)
    bool cleared = false;              // the clearing first call has been made
    int64_t stimulus_mismatches = 0;   // output 1 differing from the re-derived stimulus
    int64_t right_not_silent = 0;      // output 2 not exactly 0

    simulated_loop(int64_t delay_frames, std::vector<float> taps) : delay(delay_frames), path(std::move(taps)) {}

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
            const frame_out out = call_once(0.5f, input_right);
            stimulus_mismatches += out.left != 0.0f;
            right_not_silent += out.right != 0.0f;
            cleared = true;
        }
        for (int64_t i = 0; i < count; i++) {
            const int64_t t = frames++;
            const float x = noise.next();
            stimulus[t & 8191] = x;
            const float right = noisy_right ? 5.0f * right_noise.next() : input_right;
            const frame_out out = call_once(capture(t), right);
            stimulus_mismatches += out.left != x;
            right_not_silent += out.right != 0.0f;
        }
    }
};

// A model of the mean behaviour of the adaptation, for the tolerances of the
// convergence tests. With white stimulus of variance sigma2 = 0.04 / 3 the
// expected tap error shrinks by (1 - a) per frame, a = 2e-6 * sigma2 / power,
// the power following its own average from 1.0; so the expected taps after n
// frames are (1 - shrink) times the path. Around that mean every tap wanders:
// its variance grows by a^2 times the energy that the prediction error carries
// in units of the stimulus variance (the unconverged part of the path, plus
// any part of it that the 2048 taps cannot reach) and decays by (1 - a)^2.
struct adaptation_model {
    double power = 1.0;
    double shrink = 1.0;
    double spread = 0.0;  // variance of one tap around its expected value

    // One frame with stimulus x; reachable / unreachable: energy of the path
    // inside and outside the 2048 taps.
    void step(float x, double reachable, double unreachable)
    {
        constexpr double sigma2 = 0.04 / 3.0;
        power = power * 0.99995 + static_cast<double>(x) * x * (1.0 - 0.99995);
        const double a = 2e-6 * sigma2 / power;
        spread = (1.0 - a) * (1.0 - a) * spread + a * a * (shrink * shrink * reachable + unreachable);
        shrink *= 1.0 - a;
    }
    double sd() const { return std::sqrt(spread); }
};


inline constexpr uint8_t trace_green = 10;
