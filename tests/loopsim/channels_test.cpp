// loopsim's two channels: the crosstalk each way against its closed form
// (flat, or a first difference rising 6 dB an octave through its level at
// 1 kHz), channel 2's own gain and delay against a plain delayed gain, and
// the one-channel loop against the path alone, so that the running client
// keeps every behaviour the path has had.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "common/rig.hpp"
#include "tests/loopsim/tone.hpp"
#include "tools/loopsim/loop.hpp"

namespace {

// Both channels' outputs for a sine at hz on channel `driven` only.
std::vector<std::vector<double>> drive(const loopsim::loop_options& o, int driven, double hz)
{
    loopsim::loop l = loopsim::loop_build(o);
    static loopsim::glitch_queue q;
    std::vector<std::vector<double>> y(3, std::vector<double>(49000));
    for (size_t n = 0; n < y[0].size(); n++) {
        double x[2] = {}, out[2];
        x[driven] = 0.5 * std::cos(2.0 * M_PI * std::fmod(hz * static_cast<double>(n), rate) / rate);
        loopsim::loop_process(l, x, out, q);
        y[0][n] = out[0], y[1][n] = out[1], y[2][n] = x[driven];
    }
    return y;
}

TEST(LoopsimChannels, CrosstalkHasItsClosedForm)
{
    struct crosstalk_case {
        double db;
        loopsim::crosstalk_shape shape;
        int driven;
    };
    const std::vector<crosstalk_case> cases = {
        {-60.0, loopsim::crosstalk_shape::flat, 0},
        {-70.0, loopsim::crosstalk_shape::capacitive, 0},
        {-80.0, loopsim::crosstalk_shape::capacitive, 1},
    };
    for (const crosstalk_case& c : cases)
        for (double hz : {100.0, 1000.0, 10000.0}) {
            loopsim::loop_options o;
            o.channels = 2, o.crosstalk_db = c.db, o.shape = c.shape;
            o.path.delay = 20, o.path.gain = 0.7, o.delay2 = 5, o.gain2_db = -1.0;
            const std::vector<std::vector<double>> y = drive(o, c.driven, hz);
            const std::complex<double> leak =
                tone_at(y[1 - c.driven], 1000, 48000, hz, rate) / tone_at(y[c.driven], 1000, 48000, hz, rate);
            // A first difference: |1 - e^(-jw)| = 2 sin(w / 2), its phase 90 degrees less half a frame.
            const bool flat = c.shape == loopsim::crosstalk_shape::flat;
            const double level =
                c.db + (flat ? 0.0 : 20.0 * std::log10(std::sin(M_PI * hz / rate) / std::sin(M_PI * 1000.0 / rate)));
            const double phase = flat ? 0.0 : 90.0 - 180.0 * hz / rate;
            EXPECT_NEAR(20.0 * std::log10(std::abs(leak)), level, 1e-6) << c.db << " at " << hz;
            EXPECT_NEAR(std::arg(leak) * 180.0 / M_PI, phase, 1e-6) << c.db << " at " << hz;
            const std::complex<double> printed = loopsim::loop_crosstalk_at(o, hz);
            EXPECT_NEAR(std::abs(printed - leak), 0.0, 1e-9 * std::abs(leak));
        }
}

TEST(LoopsimChannels, SecondChannelHasItsOwnGainAndDelay)
{
    struct second_case {
        double gain2_db;
        int64_t delay2;
    };
    for (const second_case& c : std::vector<second_case>{{-0.5, 3}, {1.0, -5}, {0.0, 0}}) {
        loopsim::loop_options o;
        o.channels = 2, o.gain2_db = c.gain2_db, o.delay2 = c.delay2;
        o.path.delay = 10, o.path.gain = 0.5;
        const double hz = 1000.0;
        const std::vector<std::vector<double>> y = drive(o, 1, hz);
        const std::complex<double> h = tone_at(y[1], 1000, 48000, hz, rate) / tone_at(y[2], 1000, 48000, hz, rate);
        const std::complex<double> want = 0.5 * std::pow(10.0, c.gain2_db / 20.0) *
                                          std::polar(1.0, -2.0 * M_PI * hz * static_cast<double>(10 + c.delay2) / rate);
        EXPECT_NEAR(std::abs(h - want), 0.0, 1e-9) << c.gain2_db << " dB, " << c.delay2 << " frames";
        EXPECT_LT(std::abs(tone_at(y[0], 1000, 48000, hz, rate)), 1e-15);  // no crosstalk asked: none
    }
}

TEST(LoopsimChannels, OneChannelLoopIsThePathFrameForFrame)
{
    loopsim::loop_options o;
    o.path.delay = 300, o.path.aa_cutoff_hz = 20000.0, o.path.highpass_hz = 3.0, o.path.gain = 0.5;
    o.path.noise_dbfs = -60.0, o.path.dropout_ms = 5.0, o.path.dropout_every_s = 0.25;
    o.path.dropout_once_s = 0.1, o.path.dropout_once_ms = 2.0;
    o.path.echoes = {{-100, -20.0}};
    loopsim::path p = loopsim::path_build(o.path);
    loopsim::loop l = loopsim::loop_build(o);
    static loopsim::glitch_queue q;
    int64_t zeros = 0;
    for (int64_t n = 0; n < 48000; n++) {
        double x[2] = {n < 500 ? 0.0 : std::sin(0.01 * static_cast<double>(n)), 0.0}, y[2];
        loopsim::loop_process(l, x, y, q);
        const double want = loopsim::path_process(p, x[0]);
        ASSERT_EQ(y[0], want) << "frame " << n;
        zeros += want == 0.0;
    }
    EXPECT_GE(zeros, 3 * 240 + 96);  // the dropouts did happen
}

}  // namespace
