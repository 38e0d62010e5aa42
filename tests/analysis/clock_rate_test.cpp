// The interface's rate against the system's clock, on scripted clocks: the
// interface at -50, 0 and +50 ppm, the callbacks' times with the jitter a
// scheduler gives them (normal, late only, a few very late), servers that
// reset their timing at an xrun, and buffers that change size. The truth is
// the scripted rate; the interval must hold it.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "analysis/clock_rate.hpp"

namespace {

constexpr double nominal = 48000.0;

enum class jitter { none, normal, late, very_late, spells };

struct script {
    double ppm = 0.0;
    jitter kind = jitter::normal;
    double jitter_s = 100e-6;  // the normal's sd, the late's mean
    double seconds = 10.0;
    int xruns = 0;          // timing resets, evenly spread
    double reset_s = 0.02;  // the time each loses
    bool uneven = false;    // buffers of 240 and 272 frames in turn, not 256
};

// The callbacks of a scripted interface: the frame each begins at exactly,
// and its time on the system's clock with the script's jitter; at an xrun
// the server loses reset_s and the frames go on from where they stood.
std::vector<clock_point> script_points(const script& c, uint64_t seed)
{
    std::mt19937_64 random(seed);
    std::normal_distribution<double> normal(0.0, c.jitter_s);
    std::exponential_distribution<double> late(1.0 / c.jitter_s);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const double rate = nominal * (1.0 + c.ppm * 1e-6);
    std::vector<clock_point> points;
    int64_t frame = 0;
    double lost = 0.0, spell_late = 0.0;
    int64_t spell_at = -1;
    const int64_t total = std::llround(c.seconds * nominal);
    int64_t next_xrun = c.xruns > 0 ? total / (c.xruns + 1) : total + 1;
    for (int k = 0; frame < total; k++) {
        bool breaks = false;
        if (frame >= next_xrun) {
            lost += c.reset_s, breaks = true;
            next_xrun += total / (c.xruns + 1);
        }
        double t = 1.0 + static_cast<double>(frame) / rate + lost;
        if (c.kind == jitter::normal)
            t += normal(random);
        else if (c.kind == jitter::late)
            t += late(random);
        else if (c.kind == jitter::very_late)
            t += late(random) + (uniform(random) < 0.01 ? 3e-3 : 0.0);
        else if (c.kind == jitter::spells) {
            // A busy machine: in spells of half a second, a third of them,
            // every callback a further 0 to 600 us late, the same in a spell.
            const int64_t spell = frame / 24000;
            if (spell != spell_at)
                spell_at = spell, spell_late = uniform(random) < 1.0 / 3.0 ? 600e-6 * uniform(random) : 0.0;
            t += late(random) + spell_late;
        }
        points.push_back({std::llround(t * 1e9), frame, breaks});
        frame += c.uneven ? (k % 2 ? 272 : 240) : 256;
    }
    return points;
}

TEST(ClockRate, HoldsTheScriptedRateWithinItsInterval)
{
    struct row {
        const char* what;
        script c;
        double most_uncertainty;  // ppm: what the jitter over the span allows, with room
    };
    // 1875 callbacks over 10 s with 100 us of jitter: the slope's standard
    // error is 1e-4 * sqrt(12 / 1875) / 10 s = 0.8 ppm, so the interval ~1.6
    // ppm; k segments of a k-th of the span each bring k^2 times less: three
    // xruns in 10 s, ~6.5 ppm. The jackknife's interval, itself uncertain,
    // may be up to about twice as wide. Spells: 20 of them, each late by
    // a further 173 us RMS, ~13 ppm of standard error. Each row's error is held to 1.5 times the
    // 95 % interval (three standard errors: the seeds are fixed, and the
    // interval's own coverage is the next test's).
    const row rows[] = {
        {"+50 ppm, normal jitter", {.ppm = 50.0}, 4.5},
        {"-50 ppm, normal jitter", {.ppm = -50.0}, 4.5},
        {"0 ppm, normal jitter", {.ppm = 0.0}, 4.5},
        {"+50 ppm, no jitter", {.ppm = 50.0, .kind = jitter::none}, 0.01},
        {"-50 ppm, late wake-ups (exponential, 300 us)",
         {.ppm = -50.0, .kind = jitter::late, .jitter_s = 300e-6},
         14.0},
        {"+50 ppm, late in spells of 0.5 s", {.ppm = 50.0, .kind = jitter::spells, .jitter_s = 50e-6}, 45.0},
        {"+50 ppm, 1 % of callbacks 3 ms late", {.ppm = 50.0, .kind = jitter::very_late, .jitter_s = 50e-6}, 3.0},
        {"+50 ppm, three xruns that reset the timing", {.ppm = 50.0, .xruns = 3}, 18.0},
        {"-50 ppm, ten xruns, 60 s", {.ppm = -50.0, .seconds = 60.0, .xruns = 10}, 4.0},
        {"+50 ppm, buffers of 240 and 272", {.ppm = 50.0, .uneven = true}, 4.5},
        {"0 ppm, 1 ms of jitter", {.ppm = 0.0, .jitter_s = 1e-3}, 45.0},
    };
    for (const row& r : rows)
        for (uint64_t seed = 1; seed <= 5; seed++) {
            SCOPED_TRACE(std::string(r.what) + ", seed " + std::to_string(seed));
            const std::vector<clock_point> points = script_points(r.c, seed);
            const clock_rate got = clock_rate_fit(points, nominal);
            ASSERT_EQ(got.error, "");
            EXPECT_LE(std::fabs(got.ppm - r.c.ppm), std::max(1.5 * got.ppm_uncertainty, 1e-6)) << got.ppm;
            EXPECT_LE(got.ppm_uncertainty, r.most_uncertainty);
            EXPECT_GT(got.ppm_uncertainty, 0.0);
            EXPECT_NEAR(got.rate_hz, nominal * (1.0 + got.ppm * 1e-6), 1e-9);
            EXPECT_EQ(got.segments, r.c.xruns + 1);
        }
}

// The interval is a 95 % one: over many scripts it holds the truth about
// 95 times in 100 (and not far more: an interval too wide says little).
TEST(ClockRate, IntervalCoversTheTruthAsOften)
{
    struct row {
        const char* what;
        script c;
    };
    const row rows[] = {
        {"normal jitter", {.ppm = 50.0, .seconds = 6.0}},
        {"late wake-ups", {.ppm = -50.0, .kind = jitter::late, .seconds = 6.0}},
        {"late in spells", {.ppm = 50.0, .kind = jitter::spells, .jitter_s = 50e-6, .seconds = 10.0}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        int held = 0;
        const int trials = 200;
        for (int seed = 0; seed < trials; seed++) {
            const clock_rate got = clock_rate_fit(script_points(r.c, 1000 + static_cast<uint64_t>(seed)), nominal);
            held += std::fabs(got.ppm - r.c.ppm) <= got.ppm_uncertainty;
        }
        EXPECT_GE(held, 180);
        EXPECT_LE(held, 200);
    }
}

// Without its breaks, the same script reads a false negative offset: the
// test's xruns are ones that matter.
TEST(ClockRate, AnUnbrokenLineMisreadsAServerThatResetItsTiming)
{
    std::vector<clock_point> points = script_points({.ppm = 0.0, .xruns = 3}, 7);
    const clock_rate broken = clock_rate_fit(points, nominal);
    for (clock_point& p : points)
        p.breaks = false;
    const clock_rate naive = clock_rate_fit(points, nominal);
    EXPECT_LE(std::fabs(broken.ppm), broken.ppm_uncertainty);
    EXPECT_LT(naive.ppm, -naive.ppm_uncertainty);
    EXPECT_LT(naive.ppm, -1000.0);  // 60 ms lost over 10 s: about -6000 ppm
}

TEST(ClockRate, RefusesWhatCannotGiveARate)
{
    struct row {
        const char* what;
        std::vector<clock_point> points;
        double nominal;
        const char* error_starts;
    };
    const std::vector<clock_point> ten_s = script_points({.ppm = 0.0}, 3);
    const std::vector<clock_point> two_s = script_points({.ppm = 0.0, .seconds = 2.0}, 3);
    std::vector<clock_point> every_other_breaks = ten_s;
    for (size_t i = 0; i < every_other_breaks.size(); i += 2)
        every_other_breaks[i].breaks = true;
    const row rows[] = {
        {"no points", {}, nominal, "too few callbacks timed (0)"},
        {"five points", std::vector<clock_point>(ten_s.begin(), ten_s.begin() + 5), nominal, "too few callbacks"},
        {"2 s", two_s, nominal, "too short: the stream's clock was timed over 2.0 s, less than 5 s"},
        {"segments of two points", every_other_breaks, nominal, "too few callbacks timed (0)"},
        {"nominal rate NaN", ten_s, std::nan(""), "the nominal rate is not a positive number"},
        {"nominal rate infinite", ten_s, INFINITY, "the nominal rate is not a positive number"},
        {"nominal rate 0", ten_s, 0.0, "the nominal rate is not a positive number"},
        {"frames that stand still", std::vector<clock_point>(20, clock_point{5, 7, false}), nominal, "too few"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        const clock_rate got = clock_rate_fit(r.points, r.nominal);
        EXPECT_EQ(got.error.rfind(r.error_starts, 0), 0u) << got.error;
    }
}

}  // namespace
