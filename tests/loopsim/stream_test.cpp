// loopsim's output stream against closed forms and its own log: a sine through
// the clock's resampler against the sine at the positions the clock promises;
// the delay's slide from the sine's zero crossings; and the drops, inserts and
// zeros rebuilt from the logged records alone, frame for frame, those of a
// struggling interface (--struggle-below) at the server's periods included.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "common/rig.hpp"
#include "tools/loopsim/loop.hpp"

namespace {

using loopsim::glitch;
using loopsim::glitch_kind;
using loopsim::loop_options;

// A stretch of the server's process calls: this many of this period.
struct periods {
    int64_t period, calls;
};

// Runs channel 1 of a loop over input x; returns its output and fills records.
// With `server`, the loop is told each call's period before its frames, as
// loopsim's process callback does (x as long as the calls' frames together).
std::vector<double> run(const loop_options& o, const std::vector<double>& x,
                        std::vector<loopsim::glitch_record>* records, const std::vector<periods>& server = {})
{
    loop_options short_ring = o;
    short_ring.headroom = 1 << 16;  // more than any slip or clock's lag here; a quarter of the real ring
    loopsim::loop l = loopsim::loop_build(short_ring);
    static loopsim::glitch_queue q;  // large: not on the stack
    std::vector<double> y(x.size());
    size_t stretch = 0;
    int64_t calls = 0, left = 0;  // calls made in this stretch; frames left in this call
    for (size_t i = 0; i < x.size(); i++) {
        if (!server.empty() && left == 0) {
            if (calls == server[stretch].calls)
                stretch++, calls = 0;
            left = server.at(stretch).period, calls++;
            loopsim::loop_period(l, left);
        }
        left--;
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

// The output a ramp input (frame n carries n + 1, from the first sound at
// frame onset on) gives through a pure delay, rebuilt from the records alone:
// each drop moves the content on by n, each insert back by n, each zero blanks
// n frames. m counts from the first sound, as the records do.
std::vector<double> rebuilt(const std::vector<loopsim::glitch_record>& records, int64_t delay, int64_t frames,
                            int64_t onset = 0)
{
    std::vector<double> y(static_cast<size_t>(frames));
    int64_t shift = -delay, zero_until = 0;
    size_t next = 0;
    for (int64_t m = 0; m + onset < frames; m++) {
        for (; next < records.size() && records[next].out == m; next++) {
            const loopsim::glitch_record& r = records[next];
            EXPECT_EQ(r.in, m + shift) << "record " << next;  // what frame m would have carried
            if (r.kind == glitch_kind::zero)
                zero_until = std::max(zero_until, m + r.n);
            else
                shift += r.kind == glitch_kind::drop ? r.n : -r.n;
        }
        const int64_t content = m + shift;
        y[m + onset] = m < zero_until || content < 0 ? 0.0 : static_cast<double>(content + 1);
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

// A ramp from the first sound at frame onset on (frame onset carries 1), zeros before.
std::vector<double> ramp(int64_t frames, int64_t onset)
{
    std::vector<double> x(static_cast<size_t>(frames), 0.0);
    for (int64_t n = onset; n < frames; n++)
        x[n] = static_cast<double>(n - onset + 1);
    return x;
}

TEST(LoopsimStream, StrugglingPeriodsRepeatAPeriodEverySecondAndDropItHalfASecondLater)
{
    // Below N, from the first sound on: one period inserted at 1, 2 and 3 s,
    // one period dropped half a second after each, logged as capture glitches
    // whose n is the period; the output repeats the period just played, then
    // skips a period, and is exactly the stream the log says. At N and above,
    // and with N = 0, nothing. The rates' half seconds are whole frames.
    struct struggle_case {
        double rate;
        int64_t below, period, delay, onset;  // onset: silent frames before the first sound
    };
    const std::vector<struggle_case> cases = {
        {48000.0, 256, 64, 600, 0},     {48000.0, 256, 128, 0, 1000},  // no --delay: the drop takes back the insert
        {44100.0, 256, 255, 300, 77},   {22050.0, 1024, 512, 600, 5000}, {48000.0, 8192, 4096, 0, 0},
        {48000.0, 256, 256, 600, 1000}, {48000.0, 256, 1024, 600, 0},    {48000.0, 0, 64, 600, 0},
    };
    for (const struggle_case& c : cases) {
        loop_options o;
        o.path.rate = c.rate, o.path.delay = c.delay, o.struggle_below = c.below;
        ASSERT_EQ(loopsim::loop_check(o), "");
        const int64_t second = static_cast<int64_t>(c.rate), half = second / 2;
        const int64_t calls = (c.onset + 3 * second + half + c.period) / c.period + 1;  // past the third drop
        const int64_t frames = calls * c.period;
        std::vector<loopsim::glitch_record> records;
        const std::vector<double> y = run(o, ramp(frames, c.onset), &records, {{c.period, calls}});
        const std::string label =
            std::to_string(c.period) + " frames at " + std::to_string(c.rate) + " Hz below " + std::to_string(c.below);
        EXPECT_EQ(y, rebuilt(records, c.delay, frames, c.onset)) << label;
        if (c.below == 0 || c.period >= c.below) {
            EXPECT_TRUE(records.empty()) << label;
            continue;
        }
        ASSERT_EQ(records.size(), 6u) << label;
        for (int64_t k = 1; k <= 3; k++) {
            const loopsim::glitch_record& in = records[2 * k - 2];
            const loopsim::glitch_record& out = records[2 * k - 1];
            EXPECT_EQ(in.kind, glitch_kind::insert) << label << ", " << k;
            EXPECT_EQ(out.kind, glitch_kind::drop) << label << ", " << k;
            for (const loopsim::glitch_record& r : {in, out}) {
                EXPECT_EQ(r.side, loopsim::glitch_side::capture) << label << ", " << k;
                EXPECT_EQ(r.n, c.period) << label << ", " << k;
            }
            EXPECT_EQ(in.out, k * second) << label;
            EXPECT_EQ(out.out, k * second + half) << label;
            // The frames of the period just played, again; then a period skipped.
            const int64_t repeated = c.onset + in.out, skipped = c.onset + out.out;
            for (int64_t i = 0; i < c.period; i++)
                ASSERT_EQ(y[repeated + i], y[repeated - c.period + i]) << label << ", " << k << ", " << i;
            EXPECT_EQ(y[repeated], y[repeated - 1] + 1.0 - static_cast<double>(c.period)) << label;
            EXPECT_EQ(y[skipped], y[skipped - 1] + 1.0 + static_cast<double>(c.period)) << label;
        }
        if (&c == &cases[0]) {
            // The log's lines, as a test reads the truth from loopsim's own log.
            EXPECT_EQ(loopsim::glitch_format(records[0], c.rate),
                      "glitch kind=insert n=64 out=48000 in=47400 t=1.000000\n");
            EXPECT_EQ(loopsim::glitch_format(records[1], c.rate),
                      "glitch kind=drop n=64 out=72000 in=71336 t=1.500000\n");
        }
    }
}

TEST(LoopsimStream, StrugglingCountsAgainFromEachPeriodChange)
{
    // N = 256 at 48 kHz, --delay 600. A new period restarts the count: its
    // first insert comes a second after the change, or after the first sound
    // if that is later; a period still inserted at the change is dropped on
    // its first frame (n the old period), whatever the new period; an insert
    // due on the first frame of a period at N or above is not made.
    struct expected {
        glitch_kind kind;
        int64_t n, out;
    };
    struct schedule {
        int64_t onset;
        std::vector<periods> server;
        std::vector<expected> records;
    };
    constexpr glitch_kind insert = glitch_kind::insert, drop = glitch_kind::drop;
    const std::vector<schedule> schedules = {
        // 128 from the first sound; 64 from 64000 (the drop due at 72000 made
        // there); 512 from 160000, when the next insert was due; 32 from
        // 211200; 512 from 275200, half way to the drop.
        {0,
         {{128, 500}, {64, 1500}, {512, 100}, {32, 2000}, {512, 100}},
         {{insert, 128, 48000},
          {drop, 128, 64000},
          {insert, 64, 112000},
          {drop, 64, 136000},
          {insert, 32, 259200},
          {drop, 32, 275200}}},
        // 64 in the silence, 128 from frame 3200, still in it: the first sound
        // at frame 5000 starts the count; 256 from 94200 (frames from the first
        // sound); 64 from 145400.
        {5000,
         {{64, 50}, {128, 750}, {256, 200}, {64, 1200}},
         {{insert, 128, 48000}, {drop, 128, 72000}, {insert, 64, 193400}, {drop, 64, 217400}}},
    };
    for (const schedule& c : schedules) {
        loop_options o;
        o.path.delay = 600, o.struggle_below = 256;
        int64_t frames = 0;
        for (const periods& p : c.server)
            frames += p.period * p.calls;
        std::vector<loopsim::glitch_record> records;
        const std::vector<double> y = run(o, ramp(frames, c.onset), &records, c.server);
        const std::string label = "first sound at " + std::to_string(c.onset);
        EXPECT_EQ(y, rebuilt(records, 600, frames, c.onset)) << label;
        ASSERT_EQ(records.size(), c.records.size()) << label;
        for (size_t i = 0; i < records.size(); i++) {
            EXPECT_EQ(records[i].kind, c.records[i].kind) << label << ", record " << i;
            EXPECT_EQ(records[i].n, c.records[i].n) << label << ", record " << i;
            EXPECT_EQ(records[i].out, c.records[i].out) << label << ", record " << i;
            EXPECT_EQ(records[i].side, loopsim::glitch_side::capture) << label << ", record " << i;
        }
    }
}

}  // namespace
