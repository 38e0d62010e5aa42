// Shared set-up of the analyser tests: every case starts from the program-load
// state of the analyser, the loopback filters, the generators, the handshake
// and the FFT tables, and closes any framebuffer it opened.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "common/plot_probe.hpp"
#include "common/program_state.hpp"
#include "display/display.hpp"
#include "dsp/fft.hpp"
#include "dsp/filters.hpp"
#include "dsp/noise.hpp"
#include "frame/handshake.hpp"
#include "rtresponse/analysis.hpp"
#include "rtresponse/capture.hpp"
#include "rtresponse/display.hpp"
#include "rtresponse/scale.hpp"
#include "rtresponse/state.hpp"
#include "rtresponse/sweep.hpp"

// The analyser's program-wide state, by its plain names in every test.
using namespace rtresponse;

class AnalyserTest : public ::testing::Test {
protected:
    void SetUp() override { shared_state_reset(); }
    void TearDown() override
    {
        SetUp();
        gfx_close();
    }

    // Start-up as the programs do it: FFT tables, then the sweep.
    static void build_tables()
    {
        fft_2048(spectrum_re, spectrum_im, -1, 1);
        build_sweep_table();
    }

    // One callback call with the given input on channel 1 (and a distractor on
    // channel 2); returns the output frame.
    static std::vector<float> call(float input_left, float input_right = 0.75f)
    {
        const float in[2] = {input_left, input_right};
        std::vector<float> out = {-7.0f, -7.0f};
        EXPECT_EQ(analyser_callback(in, out.data(), 1, nullptr, 0, nullptr), paContinue);
        return out;
    }
};
