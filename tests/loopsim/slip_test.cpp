// loopsim's slips on both sides against their closed form: the played stream
// x, broken by the playback-side glitches into the converter's stream c,
// read through the clock at the positions it and the capture-side glitches
// imply, then blanked where a capture zero is. Each record against the same
// closed form: its side, kind, size and both positions. And pairs of glitches
// 1, 5 and 20 ms apart, on one side or on both; and the DC offset.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "common/rig.hpp"
#include "tools/loopsim/loop.hpp"

namespace {

using loopsim::glitch;
using loopsim::glitch_kind;
using loopsim::glitch_record;
using loopsim::glitch_side;
using loopsim::loop_options;

constexpr glitch_side capture = glitch_side::capture, playback = glitch_side::playback;
constexpr glitch_kind drop = glitch_kind::drop, insert = glitch_kind::insert, zero = glitch_kind::zero;

// Three sines, none a whole number of cycles in any slip: band-limited (the
// highest at 0.27 of the rate), non-zero at frame 0 (the first sound).
double played(double n)
{
    const double t = n / rate;
    return 0.3 * std::sin(2.0 * M_PI * 997.0 * t + 0.3) + 0.2 * std::sin(2.0 * M_PI * 5003.0 * t + 1.0) +
           0.1 * std::sin(2.0 * M_PI * 13001.0 * t + 2.0);
}

std::vector<double> played_frames(int64_t frames)
{
    std::vector<double> x(static_cast<size_t>(frames));
    for (int64_t n = 0; n < frames; n++)
        x[n] = played(static_cast<double>(n));
    return x;
}

// The stream's headroom for these short streams: more than any slip here
// (4096) and their lag, a sixteenth of the real ring's zeroing.
constexpr int64_t short_headroom = 1 << 14;

struct planned {
    glitch_side side;
    glitch_kind kind;
    int64_t at, n;  // frames of its side's stream from the first sound
};

struct outcome {
    std::vector<double> y;
    std::vector<glitch_record> records;
};

// Channel 1 of a loop over x, the glitches planned at at / rate seconds.
outcome run(loop_options o, const std::vector<planned>& plan, const std::vector<double>& x)
{
    for (const planned& p : plan) {
        o.glitches.push_back({p.kind, 0, p.n, p.side});
        o.glitch_seconds.push_back(static_cast<double>(p.at) / rate);
    }
    o.headroom = short_headroom;
    EXPECT_EQ(loopsim::loop_check(o), "");
    loopsim::loop l = loopsim::loop_build(o);
    static loopsim::glitch_queue q;  // large: not on the stack
    outcome r;
    r.y.resize(x.size());
    for (size_t i = 0; i < x.size(); i++) {
        double in[2] = {x[i], x[i]}, out[2] = {};
        loopsim::loop_process(l, in, out, q);
        r.y[i] = out[0];
        for (glitch_record g; loopsim::glitch_queue_pop(q, g);)
            r.records.push_back(g);
    }
    for (loopsim::clock_record c; loopsim::clock_queue_pop(q, c);) {
    }
    return r;
}

// The closed form, for a pure delay of `delay` frames at ppm (at 0 ppm whole
// frames; else the resampler's 64 frames more). The converter's stream
// c[p] = x[p + shift(p)], or 0 in a playback zero; output frame m reads c at
// pos(m) = (m + cshift(m)) / (1 + ppm 1e-6) - L, or is 0 in a capture zero.
struct closed_form {
    double step = 1.0, lag = 0.0;
    bool resampled = false;
    std::vector<double> c;        // c[p], p = 0 .. ; 0 before
    std::vector<int64_t> source;  // the played frame c[p] takes (or was to take)
    std::vector<glitch_record> records;
    std::vector<int64_t> edges;  // the converter frames where c is discontinuous
    std::vector<char> zeroed;    // c[p] is a playback zero
    std::vector<double> pos;     // pos(m)
    std::vector<char> blank;     // in a capture zero

    closed_form(double ppm, int64_t delay, std::vector<planned> plan, const std::vector<double>& x)
    {
        resampled = ppm != 0.0;
        step = 1.0 / (1.0 + ppm * 1e-6);
        lag = static_cast<double>(delay + (resampled ? loopsim::stream_half : 0));
        std::stable_sort(plan.begin(), plan.end(), [](const planned& a, const planned& b) { return a.at < b.at; });
        const int64_t frames = static_cast<int64_t>(x.size());
        // The playback side.
        int64_t shift = 0, zero_left = 0;
        edges.push_back(0);                                      // silence before the first sound
        std::vector<std::pair<int64_t, glitch_record>> waiting;  // converter frame, record
        size_t next = 0;
        for (int64_t p = 0; p < frames; p++) {
            for (; next < plan.size(); next++) {
                if (plan[next].side != playback)
                    continue;
                if (plan[next].at > p)
                    break;
                const planned& g = plan[next];
                glitch_record r;
                r.kind = g.kind, r.n = g.n, r.in = p + shift, r.side = playback;
                if (g.kind == zero) {
                    zero_left = std::max(zero_left, g.n);
                    edges.push_back(p), edges.push_back(p + g.n);
                } else {
                    shift += g.kind == drop ? g.n : -g.n;
                    edges.push_back(p);
                }
                waiting.emplace_back(p, r);
            }
            const int64_t from = p + shift;
            c.push_back(zero_left > 0 || from < 0 || from >= frames ? 0.0 : x[from]);
            zeroed.push_back(zero_left > 0);
            source.push_back(from);
            zero_left = std::max<int64_t>(zero_left - 1, 0);
        }
        // The capture side, and the playback records as the reading reaches them.
        int64_t cshift = 0, blank_left = 0;
        next = 0;
        size_t reached = 0;
        for (int64_t m = 0; m < frames; m++) {
            for (; next < plan.size(); next++) {
                if (plan[next].side != capture)
                    continue;
                if (plan[next].at > m)
                    break;
                const planned& g = plan[next];
                glitch_record r;
                r.kind = g.kind, r.n = g.n, r.out = m, r.side = capture;
                r.in = played_at(std::llrint(static_cast<double>(m + cshift) * step - lag));
                if (g.kind == zero)
                    blank_left = std::max(blank_left, g.n);
                else
                    cshift += g.kind == drop ? g.n : -g.n;
                records.push_back(r);
            }
            pos.push_back(static_cast<double>(m + cshift) * step - lag);
            for (; reached < waiting.size() && pos.back() >= static_cast<double>(waiting[reached].first); reached++) {
                records.push_back(waiting[reached].second);
                records.back().out = m;
            }
            blank.push_back(blank_left > 0);
            blank_left = std::max<int64_t>(blank_left - 1, 0);
        }
    }

    int64_t played_at(int64_t p) const { return p < 0 ? p : source[p]; }
    double c_at(int64_t p) const { return p < 0 || p >= static_cast<int64_t>(c.size()) ? 0.0 : c[p]; }

    // Whether the resampler's taps at position q reach across an edge of c.
    bool near_edge(double q) const
    {
        const int64_t i = static_cast<int64_t>(std::floor(q));
        for (int64_t e : edges)
            if (e > i - loopsim::stream_half && e <= i + loopsim::stream_half + 1)
                return true;
        return false;
    }

    // c at q by the resampler's kernel, summed directly (its taps scaled to sum to 1).
    double direct(double q) const
    {
        const int64_t i = static_cast<int64_t>(std::floor(q));
        const double f = q - static_cast<double>(i);
        double sum = 0.0, weight = 0.0;
        for (int64_t t = 0; t < 2 * loopsim::stream_half; t++) {
            const double k = loopsim::stream_kernel_at(static_cast<double>(t - loopsim::stream_half + 1) - f);
            sum += k * c_at(i - loopsim::stream_half + 1 + t);
            weight += k;
        }
        return sum / weight;
    }
};

std::string describe(const glitch_record& r)
{
    return std::string(loopsim::glitch_side_name(r.side)) + " " + loopsim::glitch_kind_name(r.kind) +
           " n=" + std::to_string(r.n) + " out=" + std::to_string(r.out) + " in=" + std::to_string(r.in);
}

// The output and the records against the closed form: whole frames exactly
// at 0 ppm; with a clock, within 2e-6 of the direct sum where the taps reach
// an edge of c, and within 2e-5 of the played sines themselves, at the played
// position the clock and the slips imply, everywhere else (the resampler is
// flat to 1e-4 dB, which is 1e-5 of these sines' 0.6 peak).
void expect_closed_form(const outcome& got, const closed_form& want, int64_t from, const std::string& label)
{
    ASSERT_EQ(got.records.size(), want.records.size()) << label;
    for (size_t i = 0; i < want.records.size(); i++)
        EXPECT_EQ(describe(got.records[i]), describe(want.records[i])) << label << ", record " << i;
    int64_t wrong = 0;
    for (int64_t m = from; m < static_cast<int64_t>(got.y.size()) && wrong < 5; m++) {
        const double q = want.pos[m];
        double expected, tolerance;
        if (want.blank[m])
            expected = 0.0, tolerance = 0.0;
        else if (!want.resampled)
            expected = want.c_at(std::llrint(q)), tolerance = 0.0;
        else if (want.near_edge(q))
            expected = want.direct(q), tolerance = 2e-6;
        else {
            const double whole = std::floor(q);
            const int64_t p = static_cast<int64_t>(whole);
            expected = p < 0 || want.zeroed[p] ? 0.0 : played(static_cast<double>(want.played_at(p)) + (q - whole));
            tolerance = 2e-5;
        }
        if (!(std::fabs(got.y[m] - expected) <= tolerance)) {
            ADD_FAILURE() << label << ": output frame " << m << " (position " << q << ") is " << got.y[m] << ", not "
                          << expected;
            wrong++;
        }
    }
}

std::string name(const planned& p)
{
    return std::string(loopsim::glitch_side_name(p.side)) + " " + loopsim::glitch_kind_name(p.kind) + " " +
           std::to_string(p.n) + " at " + std::to_string(p.at);
}

TEST(LoopsimSlip, EachSideEachKindAndSizeAtThreeClocksIsItsClosedForm)
{
    // Sizes of one frame (off by one), less than a buffer and more than one
    // (4096 > 1024 > 256); the output checked to 1000 frames past the largest
    // slip's end (5000 + 4800 + 4096 < 16000).
    const int64_t delay = 5000, at = 4800, frames = 16000;
    const std::vector<double> x = played_frames(frames);
    for (double ppm : {0.0, 150.0, -900.0})
        for (glitch_side side : {capture, playback})
            for (glitch_kind kind : {drop, insert, zero})
                for (int64_t n : {1, 64, 4096}) {
                    loop_options o;
                    o.path.delay = delay, o.ppm = ppm;
                    const std::vector<planned> plan = {{side, kind, at, n}};
                    const std::string label = name(plan[0]) + " at " + std::to_string(ppm) + " ppm";
                    const outcome got = run(o, plan, x);
                    const closed_form want(ppm, delay, plan, x);
                    ASSERT_EQ(want.records.size(), 1u) << label;
                    expect_closed_form(got, want, delay + 200, label);
                    // The positions in words: a capture glitch at its own output frame, a
                    // playback one at its own played frame.
                    const glitch_record& r = got.records.at(0);
                    EXPECT_EQ(r.side, side) << label;
                    EXPECT_EQ(r.kind, kind) << label;
                    EXPECT_EQ(r.n, n) << label;
                    const double lag = static_cast<double>(delay + (ppm != 0.0 ? loopsim::stream_half : 0));
                    if (side == capture) {
                        EXPECT_EQ(r.out, at) << label;
                        EXPECT_EQ(r.in, std::llrint(static_cast<double>(at) / (1.0 + ppm * 1e-6) - lag)) << label;
                    } else {
                        EXPECT_EQ(r.in, at) << label;
                        EXPECT_EQ(r.out,
                                  static_cast<int64_t>(std::ceil((static_cast<double>(at) + lag) * (1.0 + ppm * 1e-6))))
                            << label;
                    }
                }
}

TEST(LoopsimSlip, ACaptureSlipIsWholeCaptureFramesAPlaybackSlipWholePlayedFrames)
{
    // Under +150 ppm the two differ by n x 150e-6 frames: after a capture drop
    // of 4096 the output is the unbroken output 4096 frames on; after a
    // playback drop of 4096 it is the unbroken output at the played frame
    // 4096 on, 4096 x 1.00015 output frames on.
    const int64_t delay = 5000, at = 4800, n = 4096, frames = 24000;
    const double ppm = 150.0;
    const std::vector<double> x = played_frames(frames);
    loop_options o;
    o.path.delay = delay, o.ppm = ppm;
    const outcome clean = run(o, {}, x);
    const outcome captured = run(o, {{capture, drop, at, n}}, x);
    for (int64_t m = at; m < frames - n; m += 97)
        EXPECT_NEAR(captured.y[m], clean.y[m + n], 1e-9) << m;
    const outcome playing = run(o, {{playback, drop, at, n}}, x);
    const int64_t heard = playing.records.at(0).out;
    for (int64_t m = heard + 100; m < frames - 2 * n; m += 97) {
        const double q = static_cast<double>(m) / (1.0 + ppm * 1e-6) - static_cast<double>(delay + 64);
        EXPECT_NEAR(playing.y[m], played(q + static_cast<double>(n)), 2e-5) << m;
        // Not the capture slip's: n x 150e-6 = 0.61 frames apart.
        EXPECT_GT(std::fabs(playing.y[m] - clean.y[m + n]) + std::fabs(playing.y[m + 1] - clean.y[m + 1 + n]), 1e-3)
            << m;
    }
}

TEST(LoopsimSlip, PairsOneFiveAndTwentyMillisecondsApartAreTwoGlitches)
{
    // Both glitches of each pair logged with their own kind, size and
    // positions, and the output what both together make; apart by 1, 5 and 20
    // ms where a monitor sees them, in the output stream.
    const int64_t delay = 5000, heard = 9000, frames = 14000;
    const std::vector<double> x = played_frames(frames);
    struct pair_case {
        glitch_side a, b;
        glitch_kind ka, kb;
        int64_t na, nb;
    };
    const std::vector<pair_case> pairs = {
        {capture, capture, drop, drop, 32, 480},     {capture, capture, zero, insert, 480, 32},
        {capture, capture, insert, zero, 256, 256},  {playback, playback, drop, drop, 32, 480},
        {playback, playback, zero, insert, 480, 32}, {playback, playback, insert, zero, 256, 256},
        {capture, playback, drop, insert, 480, 480}, {playback, capture, zero, drop, 480, 1},
        {capture, playback, zero, zero, 480, 32},    {playback, capture, insert, insert, 64, 64},
    };
    for (double ppm : {0.0, 150.0})
        for (int64_t apart : {48, 240, 960})
            for (const pair_case& c : pairs) {
                loop_options o;
                o.path.delay = delay, o.ppm = ppm;
                const double lag = static_cast<double>(delay + (ppm != 0.0 ? loopsim::stream_half : 0));
                const double s = 1.0 / (1.0 + ppm * 1e-6);
                // A playback glitch at the converter frame output frame m reads (after
                // the capture slip before it, moved frames on) is heard at m.
                const auto converter_frame = [&](int64_t m, int64_t moved) {
                    return static_cast<int64_t>(std::floor(static_cast<double>(m + moved) * s - lag));
                };
                const auto heard_at = [&](int64_t p, int64_t moved) {
                    return static_cast<int64_t>(std::ceil((static_cast<double>(p) + lag) / s)) - moved;
                };
                // The first heard at about `heard`; the second `apart` after it in the output.
                const planned a{c.a, c.ka, c.a == capture ? heard : converter_frame(heard, 0), c.na};
                const int64_t heard_a = c.a == capture ? heard : heard_at(a.at, 0);
                const int64_t moved = c.a == capture && c.ka != zero ? (c.ka == drop ? c.na : -c.na) : 0;
                const planned b{c.b, c.kb, c.b == capture ? heard_a + apart : converter_frame(heard_a + apart, moved),
                                c.nb};
                const std::string label = name(a) + " then " + name(b) + " at " + std::to_string(ppm) + " ppm";
                const outcome got = run(o, {a, b}, x);
                const closed_form want(ppm, delay, {a, b}, x);
                expect_closed_form(got, want, delay + 200, label);
                ASSERT_EQ(got.records.size(), 2u) << label;
                EXPECT_EQ(got.records[0].side, c.a) << label;
                EXPECT_EQ(got.records[0].n, c.na) << label;
                EXPECT_EQ(got.records[1].side, c.b) << label;
                EXPECT_EQ(got.records[1].n, c.nb) << label;
                EXPECT_EQ(got.records[0].out, heard_a) << label;
                EXPECT_EQ(got.records[1].out - got.records[0].out, apart) << label;
            }
}

TEST(LoopsimSlip, PlaybackSlipsCountThePathsOwnDelay)
{
    // Two channels, channel 2 100 frames earlier: the path keeps 100 frames of
    // channel 1's delay (the stage has only the shorter one), and the records
    // count them: the closed form is channel 1's whole delay all the same.
    const int64_t delay = 3000, frames = 16000;
    const std::vector<double> x = played_frames(frames);
    const std::vector<planned> plan = {
        {playback, drop, 2000, 700}, {capture, insert, 6000, 300}, {playback, zero, 4000, 50}};
    for (double ppm : {0.0, -900.0}) {
        loop_options o;
        o.path.delay = delay, o.ppm = ppm, o.channels = 2, o.delay2 = -100;
        const outcome got = run(o, plan, x);
        expect_closed_form(got, closed_form(ppm, delay, plan, x), delay + 200, std::to_string(ppm) + " ppm");
    }
}

TEST(LoopsimSlip, RandomGlitchesOnBothSidesAreTheirClosedForm)
{
    // Random glitches on both sides from their seeds, rebuilt from the records
    // alone by the closed form (the records give every glitch's frame on its
    // own side: a capture one's out, a playback one's converter frame is its in
    // less the playback slips before it). A reserve of 2000 frames: many a
    // random drop turns into an insert. At 0 ppm a ramp (frame n carries n + 1)
    // makes every frame its own; at 150 ppm the sines. 60 a minute on each
    // side over 20 and 10 s: about 10 glitches a side, some of them close.
    const int64_t delay = 2000;
    for (double ppm : {0.0, 150.0}) {
        const int64_t frames = 48000 * (ppm == 0.0 ? 20 : 10);
        std::vector<double> x = played_frames(frames);
        if (ppm == 0.0)
            for (int64_t n = 0; n < frames; n++)
                x[n] = static_cast<double>(n + 1);
        loop_options o;
        o.path.delay = delay, o.ppm = ppm;
        o.glitch_per_minute = 60.0, o.glitch_seed = 5;
        o.playback_glitch_per_minute = 60.0, o.playback_glitch_seed = 6;
        ASSERT_EQ(loopsim::loop_check(o), "");
        const outcome got = run(o, {}, x);
        std::vector<planned> plan;
        int64_t shift = 0, sides[2] = {0, 0};
        for (const glitch_record& r : got.records) {
            sides[r.side == playback]++;
            if (r.side == capture)
                plan.push_back({capture, r.kind, r.out, r.n});
            else {
                plan.push_back({playback, r.kind, r.in - shift, r.n});
                shift += r.kind == drop ? r.n : r.kind == insert ? -r.n : 0;
            }
        }
        EXPECT_GE(sides[0], 8) << ppm;
        EXPECT_GE(sides[1], 8) << ppm;
        expect_closed_form(got, closed_form(ppm, delay, plan, x), ppm == 0.0 ? 0 : 1000, std::to_string(ppm) + " ppm");
    }
}

TEST(LoopsimSlip, DcShiftsEveryOutputFrameByItsLevel)
{
    // Noise, a clock, a dropout and a zero on each side: every output frame of
    // both channels is the one without --dc plus the level, silences
    // included, before the first sound too; so the mean moves by the level.
    std::vector<double> x = played_frames(48000);
    std::fill(x.begin(), x.begin() + 1000, 0.0);
    loop_options o;
    o.path.delay = 500, o.ppm = 50.0, o.path.noise_dbfs = -40.0, o.channels = 2;
    o.path.dropout_once_s = 0.5, o.path.dropout_once_ms = 10.0;
    const std::vector<planned> plan = {{capture, zero, 6000, 480}, {playback, zero, 12000, 480}};
    const outcome plain = run(o, plan, x);
    for (double dc : {0.001, -0.25}) {
        o.dc = dc;
        const outcome shifted = run(o, plan, x);
        double mean_plain = 0.0, mean_shifted = 0.0;
        for (size_t m = 0; m < x.size(); m++) {
            ASSERT_NEAR(shifted.y[m] - plain.y[m], dc, 1e-15) << m;
            mean_plain += plain.y[m], mean_shifted += shifted.y[m];
        }
        EXPECT_NEAR((mean_shifted - mean_plain) / static_cast<double>(x.size()), dc, 1e-13);
        EXPECT_EQ(shifted.y[10], dc);                // before the first sound
        EXPECT_EQ(shifted.y[1000 + 6000 + 10], dc);  // in the capture zero
    }
    // Every channel.
    o.dc = 0.001, o.path.noise_dbfs = -400.0;
    loopsim::loop l = loopsim::loop_build(o);
    static loopsim::glitch_queue q;
    double in[2] = {0.0, 0.0}, out[2] = {};
    loopsim::loop_process(l, in, out, q);
    EXPECT_EQ(out[0], 0.001);
    EXPECT_EQ(out[1], 0.001);
}

TEST(LoopsimSlip, NewNumbersAreChecked)
{
    const double nan = std::nan(""), inf = HUGE_VAL;
    const auto problem = [](auto change) {
        loop_options o;
        change(o);
        return loopsim::loop_check(o);
    };
    for (double dc : {nan, inf, -inf, 1.0, -1.0, 3.0})
        EXPECT_NE(problem([&](loop_options& o) { o.dc = dc; }).find("--dc"), std::string::npos) << dc;
    EXPECT_EQ(problem([](loop_options& o) { o.dc = -0.999; }), "");
    for (double rms : {nan, inf, -1.0, 101.0})
        EXPECT_NE(problem([&](loop_options& o) { o.wander_rms = rms; }).find("--wander"), std::string::npos) << rms;
    for (double tau : {nan, inf, 0.0, -1.0, 1e7})
        EXPECT_NE(problem([&](loop_options& o) { o.wander_rms = 1.0, o.wander_tau = tau; }).find("--wander"),
                  std::string::npos)
            << tau;
    for (double every : {nan, inf, -1.0, 1e-5, 1e6})
        EXPECT_NE(problem([&](loop_options& o) { o.clock_log_s = every; }).find("--clock-log"), std::string::npos)
            << every;
    for (double ppm : {nan, inf, 1000.5})
        EXPECT_NE(problem([&](loop_options& o) { o.ppm = ppm; }).find("--ppm"), std::string::npos) << ppm;
    EXPECT_NE(problem([](loop_options& o) { o.playback_glitch_per_minute = std::nan(""); }).find("--glitch-random"),
              std::string::npos);
    for (int64_t below : {int64_t{-256}, int64_t{-1}, int64_t{1}, int64_t{131073}, int64_t{1} << 40})
        EXPECT_NE(problem([&](loop_options& o) { o.struggle_below = below; }).find("--struggle-below"),
                  std::string::npos)
            << below;
    for (int64_t below : {int64_t{0}, int64_t{2}, int64_t{256}, int64_t{131072}})
        EXPECT_EQ(problem([&](loop_options& o) { o.struggle_below = below; }), "") << below;
    // A smaller headroom bounds the glitches and the struggle by its half.
    for (int64_t headroom : {int64_t{1023}, int64_t{262145}, int64_t{-1}})
        EXPECT_NE(problem([&](loop_options& o) { o.headroom = headroom; }).find("headroom"), std::string::npos)
            << headroom;
    EXPECT_NE(problem([](loop_options& o) {
                  o.headroom = 4096, o.path.delay = 5000;
                  o.glitches = {{insert, 0, 2049, capture}}, o.glitch_seconds = {1.0};
              }).find("1 .. 2048 frames"),
              std::string::npos);
    EXPECT_NE(problem([](loop_options& o) { o.headroom = 4096, o.struggle_below = 2049; }).find("2 .. 2048"),
              std::string::npos);
    // A playback drop overdraws the reserve as a capture one does.
    EXPECT_NE(problem([](loop_options& o) {
                  o.path.delay = 100;
                  o.glitches = {{drop, 0, 101, playback}}, o.glitch_seconds = {1.0};
              }).find("overdraws"),
              std::string::npos);
    EXPECT_EQ(problem([](loop_options& o) {
                  o.path.delay = 100;
                  o.glitches = {{insert, 0, 50, capture}, {drop, 0, 150, playback}}, o.glitch_seconds = {1.0, 1.1};
              }),
              "");
}

TEST(LoopsimSlip, LogLinesNameTheirSide)
{
    glitch_record r;
    r.kind = drop, r.n = 480, r.out = 24000, r.in = 21935;
    EXPECT_EQ(loopsim::glitch_format(r, 48000.0), "glitch kind=drop n=480 out=24000 in=21935 t=0.500000\n");
    r.side = playback;
    EXPECT_EQ(loopsim::glitch_format(r, 48000.0),
              "glitch kind=drop n=480 out=24000 in=21935 t=0.500000 side=playback\n");
    loopsim::clock_record c;
    c.out = 48000, c.in = 45873.25, c.ppm = 150.5;
    EXPECT_EQ(loopsim::clock_format(c, 48000.0),
              "clock out=48000 in=45873.250000 delay=2126.750000 ppm=150.500000 t=1.000000\n");
}

}  // namespace
