// loopsim's changes of the interface against closed forms: a step of the
// clock's rate (the sine at the positions the two rates promise, a clock line
// at the step), a flip of the capture's polarity and a burst of noise (the
// output less the same run without them), and the printed truth through the
// resampler (the running loop's impulse response, fed an impulse, against
// what --print-ir and --print-group-delay would print).
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "common/rig.hpp"
#include "tools/loopsim/loop.hpp"
#include "tools/loopsim/path.hpp"
#include "tools/loopsim/stream.hpp"

namespace {

using loopsim::glitch_kind;
using loopsim::loop_options;

struct ran {
    std::vector<double> y;
    std::vector<loopsim::glitch_record> glitches;
    std::vector<loopsim::clock_record> clocks;
};

ran run(const loop_options& o, const std::vector<double>& x)
{
    EXPECT_EQ(loopsim::loop_check(o), "");
    loopsim::loop l = loopsim::loop_build(o);
    static loopsim::glitch_queue q;  // large: not on the stack
    ran r;
    r.y.resize(x.size());
    for (size_t i = 0; i < x.size(); i++) {
        double in[2] = {x[i], 0.0}, out[2] = {};
        loopsim::loop_process(l, in, out, q);
        r.y[i] = out[0];
        for (loopsim::glitch_record g; loopsim::glitch_queue_pop(q, g);)
            r.glitches.push_back(g);
        for (loopsim::clock_record c; loopsim::clock_queue_pop(q, c);)
            r.clocks.push_back(c);
    }
    return r;
}

std::vector<double> sine(double hz, double amplitude, int64_t frames)
{
    std::vector<double> x(static_cast<size_t>(frames));
    for (int64_t n = 0; n < frames; n++)
        x[static_cast<size_t>(n)] = amplitude * std::sin(2.0 * M_PI * hz * static_cast<double>(n) / rate + 0.3);
    return x;
}

}  // namespace

TEST(LoopsimChanges, ARateStepGoesOnFromWhereTheClockStood)
{
    // Output frame m carries the input at the sum over the frames before it
    // of 1 / (1 + ppm_k 1e-6), less (delay + 64): each step changes the rate
    // from its frame on, the position going on from where it stood.
    struct row {
        double ppm;
        std::vector<loop_options::rate_step> steps;
        int64_t delay;
    };
    const row rows[] = {
        {0.0, {{0.5, 1.0}}, 0},
        {30.0, {{0.25, 50.0}, {0.75, 29.8}}, 0},
        {-100.0, {{0.5, 100.0}}, 200},
        {0.0, {{0.1, -20.0}, {0.2, 20.0}, {0.3, 0.0}}, 100},
    };
    const double hz = 997.0, amplitude = 0.5;
    const int64_t frames = 48000;
    for (const row& c : rows) {
        loop_options o;
        o.ppm = c.ppm, o.path.delay = c.delay, o.rate_steps = c.steps;
        const ran r = run(o, sine(hz, amplitude, frames));
        EXPECT_TRUE(r.glitches.empty());
        ASSERT_EQ(r.clocks.size(), c.steps.size());
        long double position = -static_cast<long double>(c.delay + loopsim::stream_half);
        double ppm = c.ppm, residue = 0.0, power = 0.0;
        size_t next = 0;
        for (int64_t m = 0; m < frames; m++) {
            if (next < c.steps.size() && m == std::llrint(c.steps[next].seconds * rate)) {
                ppm = c.steps[next].ppm;
                EXPECT_EQ(r.clocks[next].out, m);
                EXPECT_EQ(r.clocks[next].ppm, ppm);
                EXPECT_NEAR(r.clocks[next].in, static_cast<double>(position), 1e-6);
                next++;
            }
            if (m >= 1000) {
                const double want = amplitude * std::sin(2.0 * M_PI * hz * static_cast<double>(position) / rate + 0.3);
                residue += (r.y[static_cast<size_t>(m)] - want) * (r.y[static_cast<size_t>(m)] - want);
                power += want * want;
            }
            position += 1.0L / (1.0L + static_cast<long double>(ppm) * 1e-6L);
        }
        EXPECT_LT(10.0 * std::log10(residue / power), -120.0) << c.ppm;
    }
}

TEST(LoopsimChanges, AFlipAndABurstAreTheOutputLessTheRunWithoutThem)
{
    struct row {
        std::vector<double> flips;
        std::vector<loop_options::burst> bursts;
        double ppm;
    };
    const row rows[] = {
        {{0.25}, {}, 0.0},
        {{0.25, 0.5}, {}, 20.0},
        {{}, {{0.3, 4800, -40.0}}, 0.0},
        {{0.1}, {{0.2, 6, -20.0}, {0.5, 9600, -60.0}}, 5.0},
    };
    const int64_t frames = 48000;
    const std::vector<double> x = sine(1000.0, 0.5, frames);
    for (const row& c : rows) {
        loop_options o;
        o.ppm = c.ppm, o.path.delay = 300;
        const ran plain = run(o, x);
        o.polarity_flips = c.flips, o.bursts = c.bursts;
        const ran changed = run(o, x);
        // The sign at each frame, and the frames each burst covers.
        std::vector<double> sign(static_cast<size_t>(frames), 1.0);
        for (const double t : c.flips)
            for (int64_t m = std::llrint(t * rate); m < frames; m++)
                sign[static_cast<size_t>(m)] = -sign[static_cast<size_t>(m)];
        std::vector<int> burst(static_cast<size_t>(frames), -1);
        for (size_t b = 0; b < c.bursts.size(); b++)
            for (int64_t m = std::llrint(c.bursts[b].seconds * rate), e = m + c.bursts[b].n; m < e; m++)
                burst[static_cast<size_t>(m)] = static_cast<int>(b);
        std::vector<double> sum2(c.bursts.size(), 0.0);
        for (int64_t m = 0; m < frames; m++) {
            const size_t i = static_cast<size_t>(m);
            const double d = changed.y[i] - sign[i] * plain.y[i];
            if (burst[i] < 0)
                ASSERT_EQ(d, 0.0) << m;
            else
                sum2[static_cast<size_t>(burst[i])] += d * d;
        }
        // A long burst has its RMS level (uniform noise: within 5 %); every one is logged.
        for (size_t b = 0; b < c.bursts.size(); b++) {
            if (c.bursts[b].n >= 4800) {
                EXPECT_NEAR(10.0 * std::log10(sum2[b] / static_cast<double>(c.bursts[b].n)), c.bursts[b].dbfs, 0.4);
            }
        }
        size_t flips = 0, bursts = 0;
        for (const loopsim::glitch_record& g : changed.glitches) {
            if (g.kind == glitch_kind::polarity) {
                EXPECT_EQ(g.out, std::llrint(c.flips.at(flips++) * rate));
            } else if (g.kind == glitch_kind::burst) {
                const loop_options::burst& b = c.bursts.at(bursts++);
                EXPECT_EQ(g.out, std::llrint(b.seconds * rate));
                EXPECT_EQ(g.n, b.n);
            } else {
                ADD_FAILURE() << "a slip";
            }
        }
        EXPECT_EQ(flips, c.flips.size());
        EXPECT_EQ(bursts, c.bursts.size());
    }
}

TEST(LoopsimChanges, ThePrintedTruthHoldsTheResamplersDelay)
{
    // An impulse as the first sound through a loop with a clock of 0.001 ppm
    // (the resampler running, its phase within 1e-6 frame of 0 over the
    // response): what comes out is the path's response through the resampler,
    // as --print-ir prints it; its group delay at 1 kHz the path's plus 64.
    loop_options o;
    o.path.delay = 300, o.path.aa_cutoff_hz = 20000.0, o.path.aa_taps = 127, o.path.gain = 0.5;
    o.ppm = 0.001;
    const int64_t frames = 2048;
    std::vector<double> x(static_cast<size_t>(frames), 0.0);
    x[0] = 1.0;
    const ran r = run(o, x);
    const std::vector<double> h = loopsim::stream_resampled(loopsim::path_impulse_response(o.path, frames));
    double worst = 0.0;
    int64_t peak = 0;
    for (int64_t m = 0; m < frames; m++) {
        worst = std::max(worst, std::fabs(r.y[static_cast<size_t>(m)] - h[static_cast<size_t>(m)]));
        if (std::fabs(h[static_cast<size_t>(m)]) > std::fabs(h[static_cast<size_t>(peak)]))
            peak = m;
    }
    EXPECT_LT(worst, 1e-6);
    EXPECT_EQ(peak, 300 + 63 + loopsim::stream_half);
    // The response through it: the path's times the resampler's, a delay of exactly 64 more.
    for (const double hz : {100.0, 1000.0, 10000.0}) {
        const std::complex<double> k = loopsim::stream_resampler_at(hz, rate);
        EXPECT_NEAR(std::abs(k), 1.0, 2e-5) << hz;
        const std::complex<double> e = std::polar(1.0, 2.0 * M_PI * hz * 64.0 / rate);
        EXPECT_NEAR(std::arg(k * e), 0.0, 1e-9) << hz;
    }
}

TEST(LoopsimChanges, TheirNumbersAreChecked)
{
    const double nan = std::nan(""), inf = HUGE_VAL;
    struct row {
        loop_options::rate_step step;
        double flip;
        loop_options::burst burst;
        const char* refused;  // "": accepted
    };
    const row rows[] = {
        {{1.0, 1.0}, 1.0, {1.0, 48, -40.0}, ""},
        {{0.0, -1000.0}, 0.0, {0.0, 131072, 0.0}, ""},
        {{nan, 1.0}, 1.0, {1.0, 48, -40.0}, "--rate-step"},
        {{1.0, inf}, 1.0, {1.0, 48, -40.0}, "--rate-step"},
        {{1.0, 1000.5}, 1.0, {1.0, 48, -40.0}, "--rate-step"},
        {{-1.0, 1.0}, 1.0, {1.0, 48, -40.0}, "--rate-step"},
        {{1.0, 1.0}, nan, {1.0, 48, -40.0}, "--polarity-flip"},
        {{1.0, 1.0}, 1e7, {1.0, 48, -40.0}, "--polarity-flip"},
        {{1.0, 1.0}, 1.0, {1.0, 0, -40.0}, "--burst"},
        {{1.0, 1.0}, 1.0, {1.0, 131073, -40.0}, "--burst"},
        {{1.0, 1.0}, 1.0, {1.0, 48, 1.0}, "--burst"},
        {{1.0, 1.0}, 1.0, {1.0, 48, nan}, "--burst"},
        {{1.0, 1.0}, 1.0, {inf, 48, -40.0}, "--burst"},
    };
    for (const row& x : rows) {
        loop_options o;
        o.rate_steps = {x.step}, o.polarity_flips = {x.flip}, o.bursts = {x.burst};
        const std::string problem = loopsim::loop_check(o);
        if (*x.refused)
            EXPECT_NE(problem.find(x.refused), std::string::npos) << problem;
        else
            EXPECT_EQ(problem, "");
    }
}
