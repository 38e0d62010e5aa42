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
#include <vector>

#include "common/callback_driver.hpp"
#include "common/loop_cable.hpp"
#include "common/plot_probe.hpp"
#include "common/program_state.hpp"
#include "display/display.hpp"
#include "dsp/fft.hpp"
#include "dsp/filters.hpp"
#include "dsp/noise.hpp"
#include "frame/handshake.hpp"
#include "frame/options.hpp"
#include "response/callback.hpp"
#include "response/state.hpp"
#include "rtresponse/analysis.hpp"
#include "rtresponse/display.hpp"
#include "rtresponse/program.hpp"
#include "rtresponse/scale.hpp"
#include "rtresponse/state.hpp"

// The shared snapshot, work arrays and switches by their plain names; the
// model's own state stays qualified (response::), as both have reset_pending.
using rtresponse::display_snapshot;
using rtresponse::loopback_mode;
using rtresponse::response_buffer_frames;
using rtresponse::spectrum_im;
using rtresponse::spectrum_re;

// Program-load state of everything the callback, the analysis and the display touch.
inline void fresh_run()
{
    morvane_state_reset();
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

// The loop cable on Morvane's callback.
struct simulated_loop : loop_cable {
    simulated_loop(int64_t delay_frames, std::vector<float> taps)
        : loop_cable(response_callback, delay_frames, std::move(taps))
    {
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
