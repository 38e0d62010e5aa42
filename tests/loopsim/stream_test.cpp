// loopsim's output stream against closed forms and its own log: a sine through
// the clock's resampler against the sine at the positions the clock promises;
// the delay's slide from the sine's zero crossings; and the drops, inserts and
// zeros rebuilt from the logged records alone, frame for frame.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "common/rig.hpp"
#include "tools/loopsim/loop.hpp"

namespace {

using loopsim::glitch;
using loopsim::glitch_kind;
using loopsim::loop_options;

// Runs channel 1 of a loop over input x; returns its output and fills records.
std::vector<double> run(const loop_options& o, const std::vector<double>& x,
                        std::vector<loopsim::glitch_record>* records)
{
    loopsim::loop l = loopsim::loop_build(o);
    static loopsim::glitch_queue q;  // large: not on the stack
    std::vector<double> y(x.size());
    for (size_t i = 0; i < x.size(); i++) {
        double in[2] = {x[i], 0.0}, out[2] = {};
        loopsim::loop_process(l, in, out, q);
        y[i] = out[0];
        for (loopsim::glitch_record r; loopsim::glitch_queue_pop(q, r);)
            if (records)
                records->push_back(r);
    }
    return y;
}

std::vector<double> sine(double hz, double amplitude, double phase, int64_t frames)
{
    std::vector<double> x(static_cast<size_t>(frames));
    for (int64_t n = 0; n < frames; n++)
        x[n] = amplitude * std::sin(2.0 * M_PI * hz * static_cast<double>(n) / rate + phase);
    return x;
}

struct clock_case {
    double ppm;
    int64_t delay;  // a slow clock eats into it
};

const std::vector<clock_case> clocks = {{100.0, 0}, {-100.0, 100}, {50.0, 0}, {-50.0, 100}, {0.5, 0}, {-0.5, 100}};

TEST(LoopsimStream, ClockedSineStaysTheSineAtThePromisedPositions)
{
    // Output frame m carries the input at m / (1 + ppm 1e-6) - (delay + 64):
    // the residue against that sine, over a second, far below -100 dB.
    const double hz = 997.0, amplitude = std::pow(10.0, -1.0 / 20.0), phase = 0.3;
    for (const clock_case& c : clocks) {
        loop_options o;
        o.ppm = c.ppm, o.path.delay = c.delay;
        const std::vector<double> y = run(o, sine(hz, amplitude, phase, 48000), nullptr);
        double residue = 0.0, power = 0.0;
        for (int64_t m = 1000; m < 48000; m++) {
            const double n = static_cast<double>(m) / (1.0 + c.ppm * 1e-6) - static_cast<double>(c.delay + 64);
            const double want = amplitude * std::sin(2.0 * M_PI * hz * n / rate + phase);
            residue += (y[m] - want) * (y[m] - want);
            power += want * want;
        }
        EXPECT_LT(10.0 * std::log10(residue / power), -120.0) << c.ppm << " ppm";
    }
}

// The frame (fractional, by linear interpolation) of the first upward zero
// crossing of y at or after from.
double upward_crossing(const std::vector<double>& y, int64_t from)
{
    for (int64_t m = from; m + 1 < static_cast<int64_t>(y.size()); m++)
        if (y[m] <= 0.0 && y[m + 1] > 0.0)
            return static_cast<double>(m) + y[m] / (y[m] - y[m + 1]);
    return -1.0;
}

TEST(LoopsimStream, DelaySlidesByPpmTimesTheFramesPlayed)
{
    // A 1 kHz sine's upward crossings lie at input frames 48 k exactly; the
    // delay of the one arriving near T seconds, less that of the one near the
    // start, is ppm 1e-6 times the frames played between them.
    const int64_t frames = 5 * 48000 + 2000;
    const std::vector<double> x = sine(1000.0, 0.5, -0.1, frames);  // non-zero from frame 0
    for (const clock_case& c : clocks) {
        loop_options o;
        o.ppm = c.ppm, o.path.delay = c.delay;
        const std::vector<double> y = run(o, x, nullptr);
        const double e = c.ppm * 1e-6;
        auto delay_near = [&](double seconds) {
            const double out = upward_crossing(y, std::llrint(seconds * rate));
            // The input crossing whose arrival this is: the one nearest out less the expected delay.
            const double in0 = 0.1 * rate / (2.0 * M_PI * 1000.0);  // phase -0.1 crosses at this frame
            const double expected = out / (1.0 + e) - static_cast<double>(c.delay + 64);
            const double in = in0 + 48.0 * std::nearbyint((expected - in0) / 48.0);
            return std::pair{out - in, in};
        };
        const auto [start_delay, start_in] = delay_near(0.1);
        const auto [end_delay, end_in] = delay_near(5.0);
        EXPECT_NEAR(start_delay, (1.0 + e) * static_cast<double>(c.delay + 64) + e * start_in, 1e-3) << c.ppm;
        EXPECT_NEAR(end_delay - start_delay, e * (end_in - start_in), 1e-3) << c.ppm << " ppm";
    }
}

// The output a ramp input (frame n carries n + 1) gives through a pure delay,
// rebuilt from the records alone: each drop moves the content on by n, each
// insert back by n, each zero blanks n frames.
std::vector<double> rebuilt(const std::vector<loopsim::glitch_record>& records, int64_t delay, int64_t frames)
{
    std::vector<double> y(static_cast<size_t>(frames));
    int64_t shift = -delay, zero_until = 0;
    size_t next = 0;
    for (int64_t m = 0; m < frames; m++) {
        for (; next < records.size() && records[next].out == m; next++) {
            const loopsim::glitch_record& r = records[next];
            EXPECT_EQ(r.in, m + shift) << "record " << next;  // what frame m would have carried
            if (r.kind == glitch_kind::zero)
                zero_until = std::max(zero_until, m + r.n);
            else
                shift += r.kind == glitch_kind::drop ? r.n : -r.n;
        }
        const int64_t content = m + shift;
        y[m] = m < zero_until || content < 0 ? 0.0 : static_cast<double>(content + 1);
    }
    EXPECT_EQ(next, records.size());
    return y;
}

TEST(LoopsimStream, GlitchesMakeExactlyTheStreamTheLogSays)
{
    struct glitch_case {
        std::vector<glitch> planned;
        std::vector<double> seconds;
        double per_minute;
        uint64_t seed;
        int64_t frames;
        size_t least_records;
    };
    const std::vector<glitch_case> cases = {
        {{{glitch_kind::drop, 0, 100}, {glitch_kind::insert, 0, 50}, {glitch_kind::zero, 0, 30}},
         {0.01, 0.02, 0.03},
         0.0,
         0,
         4800,
         3},
        {{{glitch_kind::drop, 0, 600}, {glitch_kind::insert, 0, 1000}, {glitch_kind::drop, 0, 1000}},
         {0.01, 0.01, 0.05},
         0.0,
         0,
         4800,
         3},
        {{}, {}, 60.0, 7, 48000 * 30, 20},  // a reserve of 600: many a random drop turns into an insert
        {{}, {}, 30.0, 1234, 48000 * 60, 20},
    };
    for (const glitch_case& c : cases) {
        loop_options o;
        o.path.delay = 600;
        o.glitches = c.planned, o.glitch_seconds = c.seconds;
        o.glitch_per_minute = c.per_minute, o.glitch_seed = c.seed;
        ASSERT_EQ(loopsim::loop_check(o), "");
        std::vector<double> x(static_cast<size_t>(c.frames));
        for (int64_t n = 0; n < c.frames; n++)
            x[n] = static_cast<double>(n + 1);
        std::vector<loopsim::glitch_record> records;
        const std::vector<double> y = run(o, x, &records);
        EXPECT_GE(records.size(), c.least_records);
        EXPECT_EQ(y, rebuilt(records, 600, c.frames)) << "seed " << c.seed;
    }
}

TEST(LoopsimStream, GlitchRecordsSitAtTheirTimesAfterTheFirstSound)
{
    loop_options o;
    o.path.delay = 300;
    o.glitches = {{glitch_kind::zero, 0, 48}}, o.glitch_seconds = {0.5};
    std::vector<double> x(48000, 0.0);
    for (size_t n = 1000; n < x.size(); n++)
        x[n] = 0.25;
    std::vector<loopsim::glitch_record> records;
    const std::vector<double> y = run(o, x, &records);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].out, 24000);
    EXPECT_EQ(records[0].in, 24000 - 300);
    for (int64_t m = 1000 + 24000 - 2; m < 1000 + 24000 + 50; m++)
        EXPECT_EQ(y[m], m >= 25000 && m < 25048 ? 0.0 : 0.25) << m;
}

}  // namespace
