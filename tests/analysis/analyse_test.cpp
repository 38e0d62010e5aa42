// The measurement's arithmetic on synthetic loops: the sweep delayed by a long
// windowed-sinc filter (independent of the analysis's own transforms), with
// gain, polarity, a second path, noise and a dropout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "analysis/analyse.hpp"
#include "analysis/sweep.hpp"
#include "common/rig.hpp"

namespace {

constexpr int64_t capture_frames = 16384;

// Adds gain x the sweep delayed by delay frames to capture: a 1023-tap
// Blackman-windowed sinc, flat to well above the analysis's band.
void add_path(std::vector<float>& capture, const std::vector<float>& sweep, double delay, double gain)
{
    const int64_t whole = static_cast<int64_t>(std::floor(delay));
    const double fraction = delay - static_cast<double>(whole);
    for (int64_t t = -511; t <= 511; t++) {
        const double x = static_cast<double>(t) - fraction;
        const double sinc = x == 0.0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
        const double w =
            0.42 + 0.5 * std::cos(std::numbers::pi * x / 512.0) + 0.08 * std::cos(2.0 * std::numbers::pi * x / 512.0);
        const double tap = gain * sinc * w;
        // The frames n whose n + whole + t lies in the capture, through plain
        // pointers: the same additions, without a bounds test and a call a
        // frame (this was most of these tests' time unoptimised, under the
        // sanitizers).
        const int64_t shift = whole + t;
        const int64_t first = std::max<int64_t>(0, -shift);
        const int64_t last =
            std::min<int64_t>(static_cast<int64_t>(sweep.size()), static_cast<int64_t>(capture.size()) - shift);
        const float* in = sweep.data();
        float* out = capture.data();
        for (int64_t n = first; n < last; n++)
            out[n + shift] += static_cast<float>(tap * in[n]);
    }
}

const std::vector<float>& sweep()
{
    static const std::vector<float> s = sweep_make(sweep_frames(rate, false), rate, 0.25);
    return s;
}

// A second-order Butterworth section (RBJ's cookbook), high- or low-pass.
struct section {
    double b0, b1, b2, a1, a2;
};
section butterworth(double hz, bool high)
{
    const double w = 2.0 * std::numbers::pi * hz / rate, alpha = std::sin(w) / std::sqrt(2.0), c = std::cos(w);
    const double a0 = 1.0 + alpha, k = high ? (1.0 + c) / 2.0 : (1.0 - c) / 2.0;
    return high ? section{k / a0, -2.0 * k / a0, k / a0, -2.0 * c / a0, (1.0 - alpha) / a0}
                : section{k / a0, 2.0 * k / a0, k / a0, -2.0 * c / a0, (1.0 - alpha) / a0};
}
void biquad(std::vector<float>& x, const section& s)
{
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
    for (float& v : x) {
        const double y = s.b0 * v + s.b1 * x1 + s.b2 * x2 - s.a1 * y1 - s.a2 * y2;
        x2 = x1, x1 = v, y2 = y1, y1 = y;
        v = static_cast<float>(y);
    }
}

run_result measure(const std::vector<float>& capture)
{
    const impulse_response r = deconvolve(sweep(), capture, rate);
    return analyse_run(r, sweep(), capture, capture_frames - sweep().size());
}

}  // namespace

TEST(LoopcheckAnalysis, LatencyToAThousandthOfAFrameWithGainAndPolarity)
{
    struct path {
        double delay, gain;
    };
    for (const path p : {path{300.0, 1.0}, path{300.25, 0.5}, path{634.5, -0.5}, path{3.75, 1.0}, path{0.5, 0.1},
                         path{5000.125, 2.0}}) {
        std::vector<float> capture(capture_frames, 0.0f);
        add_path(capture, sweep(), p.delay, p.gain);
        const run_result r = measure(capture);
        SCOPED_TRACE(testing::Message() << "delay " << p.delay << " gain " << p.gain);
        ASSERT_TRUE(r.loop);
        EXPECT_NEAR(r.latency, p.delay, 0.001);
        EXPECT_NEAR(r.group_delay, p.delay, 0.001);
        EXPECT_NEAR(r.gain_db, 20.0 * std::log10(std::fabs(p.gain)), 0.001);
        EXPECT_EQ(r.inverted, p.gain < 0.0);
        EXPECT_LE(std::fabs(static_cast<double>(r.peak) - p.delay), 0.5);
        EXPECT_GT(r.snr_db, 60.0);
        EXPECT_EQ(r.gaps, 0);
    }
}

TEST(LoopcheckAnalysis, NoLoopInSilenceOrNoise)
{
    std::vector<float> silence(capture_frames, 0.0f), noise(capture_frames);
    uint64_t state = 88172645463325252ull;
    for (float& v : noise) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        v = static_cast<float>(static_cast<double>(state >> 11) / 9007199254740992.0 - 0.5);
    }
    for (const auto* capture : {&silence, &noise}) {
        const run_result r = measure(*capture);
        EXPECT_FALSE(r.loop);
        EXPECT_LT(r.snr_db, loop_snr_floor_db);
    }
}

TEST(LoopcheckAnalysis, EchoAfterAndBeforeTheMainPathIsTheNextPeak)
{
    struct echo {
        double offset, gain, level_db;
    };
    for (const echo e : {echo{5000.0, 0.5, -6.02}, echo{-250.0, 0.1, -20.0}}) {
        std::vector<float> capture(capture_frames, 0.0f);
        add_path(capture, sweep(), 600.0, 1.0);
        add_path(capture, sweep(), 600.0 + e.offset, e.gain);
        const run_result r = measure(capture);
        ASSERT_TRUE(r.loop);
        EXPECT_NEAR(r.latency, 600.0, 0.001);
        ASSERT_TRUE(r.has_next);
        EXPECT_EQ(r.next_offset, std::lrint(e.offset));
        EXPECT_NEAR(r.next_level_db, e.level_db, 0.1);
    }
}

TEST(LoopcheckAnalysis, DigitalSilenceWhereTheSweepReturnsIsADropout)
{
    // 100 frames, 20 ms anywhere in the answer, and gaps from the answer's
    // quiet start over the part of the sweep that the gain is measured on
    // (500 Hz to 2 kHz), which leave that gain at -40 to -400 dB.
    struct gap {
        int64_t start, length;
    };
    const int64_t answer = static_cast<int64_t>(sweep().size());
    std::vector<gap> gaps{{2000, 100}, {300, 1440}, {310, 1200}, {330, 1250}, {300, 1900}};
    for (int64_t start = 300; start + 960 < 300 + answer; start += answer / 16)
        gaps.push_back({start, 960});
    for (const gap g : gaps) {
        std::vector<float> capture(capture_frames, 0.0f);
        add_path(capture, sweep(), 300.0, 0.5);
        std::fill(capture.begin() + g.start, capture.begin() + g.start + g.length, 0.0f);
        SCOPED_TRACE(testing::Message() << g.length << " zeros from frame " << g.start);
        EXPECT_GE(measure(capture).gaps, 1);
    }
    // Zeros before the loop's answer arrives are no dropout.
    std::vector<float> late(capture_frames, 0.0f);
    add_path(late, sweep(), 3000.0, 1.0);
    EXPECT_EQ(measure(late).gaps, 0);
}

TEST(LoopcheckAnalysis, ADelayThatMovesDuringTheAnswerIsASlipAnEchoIsNot)
{
    // The path's delay steps by `jump` frames at `cut` frames into the
    // answer: before, the early stretches' peak is at 300, after, the late
    // ones' at 300 + jump. Jumps of a peak's neighbourhood (64) and more, a
    // quarter, half and three quarters into the answer, both ways.
    struct row {
        int64_t jump, cut, slip;  // slip: 0 for none
    };
    std::vector<row> rows;
    for (int64_t jump : {64, 256, 1024, -100})
        for (int64_t cut : {1024, 2048, 3072})
            rows.push_back({jump, cut, jump});
    for (const row& x : rows) {
        std::vector<float> before(capture_frames, 0.0f), after(capture_frames, 0.0f), capture(capture_frames);
        add_path(before, sweep(), 400.0, 0.5);
        add_path(after, sweep(), 400.0 + static_cast<double>(x.jump), 0.5);
        for (int64_t i = 0; i < capture_frames; i++)
            capture[i] = i < 400 + x.cut ? before[i] : after[i];
        const run_result r = measure(capture);
        SCOPED_TRACE(testing::Message() << "jump " << x.jump << " at " << x.cut);
        ASSERT_TRUE(r.loop);
        EXPECT_EQ(r.slip_frames, x.slip);
    }
    // No slip: a clean path, an echo after and before at -1 and -6 dB, a
    // weak loop in noise, and a converter's minimum-phase filters (a 20 Hz
    // coupling high-pass, a 4-pole low-pass at 18 kHz), whose group delay
    // differs from stretch to stretch by frames.
    struct quiet {
        double echo_offset, echo_gain, gain, noise;
        bool filters;
    };
    for (const quiet q :
         {quiet{0.0, 0.0, 0.5, 0.0, false}, quiet{600.0, 0.45, 0.5, 0.0, false}, quiet{-200.0, 0.25, 0.5, 0.0, false},
          quiet{0.0, 0.0, 0.003, 1e-4, false}, quiet{0.0, 0.0, 0.5, 1e-6, true}}) {
        std::vector<float> capture(capture_frames, 0.0f);
        add_path(capture, sweep(), 400.5, q.gain);
        if (q.echo_gain > 0.0)
            add_path(capture, sweep(), 400.5 + q.echo_offset, q.echo_gain);
        if (q.filters) {
            biquad(capture, butterworth(20.0, true));
            biquad(capture, butterworth(18000.0, false));
            biquad(capture, butterworth(18000.0, false));
        }
        uint64_t state = 88172645463325252ull;
        for (float& v : capture) {
            state ^= state << 13, state ^= state >> 7, state ^= state << 17;
            v += static_cast<float>(q.noise * (static_cast<double>(state >> 11) / 9007199254740992.0 - 0.5) * 3.4641);
        }
        const run_result r = measure(capture);
        SCOPED_TRACE(testing::Message() << "echo " << q.echo_offset << " gain " << q.gain);
        ASSERT_TRUE(r.loop);
        EXPECT_EQ(r.slip_frames, 0);
    }
}
