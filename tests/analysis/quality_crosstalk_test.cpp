// The crosstalk of every ordered pair of loops, by both methods: synthetic
// captures in which each loop's input is its own output, bent by a
// polynomial (its converters' distortion, whose products must not pass for
// crosstalk), plus every other output at a level of its own, through a clock
// of the loop's own (a resampler's offset, steady or wandering), in noise;
// the truth is the levels set, the polynomial's closed form, or a direct DFT
// of the crosstalk's own nonlinearity. The signals are built here with
// std::cos, independent of the plan's own tone synthesis and of the analysis.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <numbers>
#include <random>
#include <set>
#include <vector>

#include "analysis/quality_crosstalk.hpp"
#include "analysis/quality_figures.hpp"
#include "analysis/tones.hpp"

namespace {

constexpr double xt_pi = std::numbers::pi;

const quality_segment& xt_segment(const quality_plan& p, quality_kind kind = quality_kind::crosstalk, int driven = -1)
{
    for (const quality_segment& s : p.segments)
        if (s.kind == kind && (driven < 0 || s.driven == driven))
            return s;
    throw std::logic_error("no such crosstalk segment");
}

// A loop's clock: how many played frames behind the block's frame m its
// input reads, delta(m) = m - tau(m), tau the played time it reads (0 at m = 0).
using xt_clock = std::function<double(int64_t)>;

xt_clock xt_steady(double ppm)
{
    const double e = ppm * 1e-6;
    return [e](int64_t m) { return static_cast<double>(m) * e / (1.0 + e); };
}

// The clock's offset ppm + wander sin(2 pi m / period), summed frame by frame.
xt_clock xt_wandering(double ppm, double wander, double period, int64_t first, int64_t last)
{
    std::vector<double> delta(static_cast<size_t>(last - first + 1));
    long double lag = 0.0L;
    for (int64_t m = first; m <= last; m++) {
        delta[static_cast<size_t>(m - first)] = static_cast<double>(lag);
        const double e = 1e-6 * (ppm + wander * std::sin(2.0 * xt_pi * static_cast<double>(m) / period));
        lag += static_cast<long double>(e / (1.0 + e));
    }
    const double at0 = delta[static_cast<size_t>(-first)];
    return [delta, first, at0](int64_t m) { return delta[static_cast<size_t>(m - first)] - at0; };
}

// The loop's tones as it plays them, read at played time m - delta, frame m
// of the block from phase 0 (m negative in the settle): the whole part of
// bin x m in integers, the offset's small part apart.
double xt_output(const quality_plan& p, const quality_segment& s, int loop, int64_t m, double delta)
{
    // On a clock without offset each cosine is one of the block's: the same
    // value, computed once (the loops' tones were most of this file's time).
    static std::vector<double> on_block;
    if (delta == 0.0 && on_block.size() != static_cast<size_t>(p.block)) {
        on_block.resize(static_cast<size_t>(p.block));
        for (int64_t r = 0; r < p.block; r++)
            on_block[static_cast<size_t>(r)] =
                std::cos(2.0 * xt_pi * (static_cast<double>(r) / static_cast<double>(p.block)));
    }
    double x = 0.0;
    for (const tone& t : quality_plan_tones(s, loop)) {
        const int64_t r = (t.bin * (((m % p.block) + p.block) % p.block)) % p.block;
        if (delta == 0.0) {
            x += t.amplitude * on_block[static_cast<size_t>(r)];
            continue;
        }
        const double cycles = static_cast<double>(r) / static_cast<double>(p.block) -
                              static_cast<double>(t.bin) * delta / static_cast<double>(p.block);
        x += t.amplitude * std::cos(2.0 * xt_pi * cycles);
    }
    return x;
}

// The level set from loop `from` into loop `to`, dB: -70 to -120, a
// different one for each pair near it.
double xt_leak_db(int from, int to) { return -70.0 - 5.0 * ((3 * from + 7 * to) % 11); }

struct xt_loop {
    double gain = 1.0, a2 = 0.0, a3 = 0.0;  // its own path: gain (x + a2 x^2 + a3 x^3)
    xt_clock clock = xt_steady(0.0);
};

// Each loop's capture of segment s: its own output through its path, every
// other output at leak(from, to) (linear) or cube (g x^3 with g = cube) read
// through the victim's clock (or the driver's, pickup_at_driver), and white
// noise of RMS noise.
std::vector<std::vector<float>> xt_captures(const quality_plan& p, const quality_segment& s,
                                            const std::vector<xt_loop>& loops,
                                            const std::function<double(int, int)>& leak, double cube, double noise,
                                            uint64_t seed, bool pickup_at_driver = false)
{
    const size_t frames = static_cast<size_t>(s.settle_frames + s.analysed_frames);
    std::mt19937_64 generator(seed);
    std::normal_distribution<double> normal(0.0, noise > 0.0 ? noise : 1.0);
    std::vector<std::vector<float>> in(loops.size(), std::vector<float>(frames));
    // Each output at each loop's own clock once a frame; a pickup read through
    // another clock (the victim's, where it differs) computed on its own.
    const size_t n = loops.size();
    std::vector<double> delta(n), own(n);
    std::vector<std::vector<double>> sum(n, std::vector<double>(frames));
    std::vector<double> leaks(n * n);
    for (size_t from = 0; from < n; from++)
        for (size_t to = 0; to < n; to++)
            leaks[from * n + to] = from == to ? 0.0 : leak(static_cast<int>(from), static_cast<int>(to));
    for (size_t i = 0; i < frames; i++) {
        const int64_t m = static_cast<int64_t>(i) - s.settle_frames;
        for (size_t l = 0; l < n; l++)
            delta[l] = loops[l].clock(m), own[l] = xt_output(p, s, static_cast<int>(l), m, delta[l]);
        for (size_t to = 0; to < n; to++) {
            const double x = own[to];
            double y = loops[to].gain * (x + loops[to].a2 * x * x + loops[to].a3 * x * x * x);
            for (size_t from = 0; from < n; from++) {
                if (from == to)
                    continue;
                const double at = pickup_at_driver ? delta[from] : delta[to];
                const double o = at == delta[from] ? own[from] : xt_output(p, s, static_cast<int>(from), m, at);
                y += leaks[from * n + to] * o + cube * o * o * o;
            }
            sum[to][i] = y;
        }
    }
    // The noise after, each loop's in turn (the generator's order), rounded once.
    for (size_t to = 0; to < n; to++)
        for (size_t i = 0; i < frames; i++)
            in[to][i] = static_cast<float>(sum[to][i] + (noise > 0.0 ? normal(generator) : 0.0));
    return in;
}

std::function<double(int, int)> xt_linear()
{
    return [](int from, int to) { return std::pow(10.0, xt_leak_db(from, to) / 20.0); };
}

}  // namespace

TEST(QualityCrosstalk, EveryOrderedPairReadsItsLevelFromOneSegment)
{
    // Input k = g_k P(out_k) + sum over j != k of leak(j, k) out_j, with
    // P(x) = x + a2 x^2 + a3 x^3. The cube takes each of a loop's eight tones
    // of peak A to A (1 + a3 A^2 (3/4 + 7 x 3/2)); the square puts nothing on
    // the grid's bins nor within 2 of them. So from's tone reads g_from A (1 +
    // 11.25 a3 A^2) on its own input and leak A on to's: every pair reads leak
    // over that, to the float32 captures' rounding (2e-10 a bin under the
    // loop's own -19 dBFS tones, 55 dB below a -120 dB pickup: 0.02 dB); and
    // every reading is a measurement, its floor that rounding.
    // The polynomial is digital: its products above the Nyquist frequency
    // fold back, which the plan does not follow; at 96 kHz and up nothing of
    // the third order folds near an octave centre, nor at 48 kHz with two loops.
    struct row {
        double rate;
        int loops;
        double a2, a3;
    };
    const row rows[] = {{48000.0, 2, 0.0, 0.0},   {44100.0, 3, 0.0, 0.0},    {48000.0, 8, 0.0, 0.0},
                        {48000.0, 2, 1e-2, 1e-2}, {96000.0, 2, 1e-2, 1e-2},  {96000.0, 3, 1e-2, -1e-2},
                        {96000.0, 8, 1e-2, 1e-2}, {192000.0, 8, -1e-2, 1e-2}};
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.rate << " Hz, " << r.loops << " loops, a2 " << r.a2 << ", a3 " << r.a3);
        const quality_plan p = quality_plan_make(r.rate, r.loops, quality_crosstalk_method::all_driven);
        const quality_segment& s = xt_segment(p);
        std::vector<xt_loop> loops;
        for (int l = 0; l < r.loops; l++)
            loops.push_back({1.0 - 0.05 * l, r.a2, r.a3, xt_steady(0.0)});
        const std::vector<std::vector<float>> in = xt_captures(p, s, loops, xt_linear(), 0.0, 0.0, 1);
        const quality_segment_captures spans(in.begin(), in.end());
        const std::vector<quality_crosstalk_pair> pairs = quality_crosstalk_read(p, s, spans);
        ASSERT_EQ(pairs.size(), static_cast<size_t>(r.loops * (r.loops - 1)));
        const double a = tones_amplitude(quality_pair_peak_dbfs) / 8.0;
        std::vector<double> worst(static_cast<size_t>(r.loops), -400.0);
        for (const quality_crosstalk_pair& pair : pairs) {
            const double expected =
                xt_leak_db(pair.from, pair.to) -
                20.0 * std::log10(loops[static_cast<size_t>(pair.from)].gain * (1.0 + 11.25 * r.a3 * a * a));
            ASSERT_TRUE(pair.db_1khz.has_value()) << pair.reason;
            EXPECT_EQ(pair.method, quality_crosstalk_method::all_driven);
            EXPECT_NEAR(*pair.db_1khz, expected, 0.02) << pair.from << " -> " << pair.to;
            ASSERT_EQ(pair.octave_db.size(), 8u);
            for (size_t k = 0; k < 8; k++) {
                ASSERT_TRUE(pair.octave_db[k].has_value());
                EXPECT_NEAR(*pair.octave_db[k], expected, 0.02)
                    << pair.from << " -> " << pair.to << " at " << pair.octave_hz[k] << " Hz";
                EXPECT_FALSE(pair.octave_floor[k].bound);
                EXPECT_LT(*pair.octave_floor[k].db, expected - 30.0);
            }
            EXPECT_EQ(pair.hz, pair.octave_hz[quality_octave_1khz]);
            EXPECT_NEAR(*pair.from_offset_ppm, 0.0, 1e-3);
            worst[static_cast<size_t>(pair.to)] = std::max(worst[static_cast<size_t>(pair.to)], expected);
        }
        // The analysis's per-loop figure: the worst of the other loops into it.
        std::vector<quality_segment_captures> captures(p.segments.size());
        captures.back() = spans;
        const std::vector<quality_loop_figures> figures = quality_analyse(p, captures);
        for (int l = 0; l < r.loops; l++) {
            ASSERT_TRUE(figures[static_cast<size_t>(l)].crosstalk_db.has_value());
            EXPECT_NEAR(*figures[static_cast<size_t>(l)].crosstalk_db, worst[static_cast<size_t>(l)], 0.02) << l;
            EXPECT_EQ(figures[static_cast<size_t>(l)].crosstalk_method, quality_crosstalk_method::all_driven);
        }
    }
}

TEST(QualityCrosstalk, EachLoopsTonesNearTheCentresClearOfTheOthersProducts)
{
    // Every loop's tones odd, on the grid 3 (mod 6), 6 bins or more from every
    // other loop's, within the distance given of the octave centres; and no
    // other loop's product up to the third order, nor its harmonics up to the
    // tenth, within 2 bins of them (through Hann a coherent component holds
    // its own bin and the two beside it: 3 bins away it is out of a reading).
    struct row {
        double rate;
        int loops;
        double within_hz;
    };
    const row rows[] = {{44100.0, 2, 11.9},  {48000.0, 2, 17.1},  {48000.0, 3, 34.7},  {48000.0, 4, 61.1},
                        {44100.0, 8, 297.4}, {48000.0, 8, 386.3}, {96000.0, 8, 105.0}, {192000.0, 8, 103.1}};
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.rate << " Hz, " << r.loops << " loops");
        const quality_plan p = quality_plan_make(r.rate, r.loops, quality_crosstalk_method::all_driven);
        const quality_segment& s = xt_segment(p);
        ASSERT_EQ(s.loop_tones.size(), static_cast<size_t>(r.loops));
        double farthest = 0.0;
        for (int from = 0; from < r.loops; from++) {
            const std::vector<tone>& own = quality_plan_tones(s, from);
            ASSERT_EQ(own.size(), 8u);
            std::set<int64_t> made;
            for (size_t i = 0; i < own.size(); i++) {
                EXPECT_EQ(own[i].bin % 6, 3);
                farthest = std::max(farthest, std::fabs(tones_hz(own[i].bin, r.rate, p.block) - quality_octave_hz[i]));
                for (int64_t h = 2; h <= 10; h++)
                    made.insert(h * own[i].bin);
                for (const tone& b : own)
                    for (const tone& c : own)
                        for (const int64_t sign : {1, -1}) {
                            made.insert(std::llabs(own[i].bin + sign * b.bin));
                            made.insert(std::llabs(own[i].bin + sign * b.bin + c.bin));
                            made.insert(std::llabs(own[i].bin + sign * b.bin - c.bin));
                        }
            }
            for (int to = 0; to < r.loops; to++) {
                if (to == from)
                    continue;
                for (size_t i = 0; i < own.size(); i++) {
                    const int64_t theirs = quality_plan_tones(s, to)[i].bin;
                    EXPECT_GE(std::llabs(theirs - own[i].bin), 6);
                    for (const tone& t : quality_plan_tones(s, to)) {
                        const auto near = made.lower_bound(t.bin - 2);
                        EXPECT_TRUE(near == made.end() || *near > t.bin + 2)
                            << "loop " << from << "'s product " << *near << " beside loop " << to << "'s tone "
                            << t.bin;
                    }
                }
            }
        }
        EXPECT_LE(farthest, r.within_hz);
    }
}

TEST(QualityCrosstalk, ReadsRightUnderAResampler)
{
    // Each loop's input through a clock of its own: a steady offset, its own
    // tones and the pickups back off their bins. Read from plain bins, 4 bins
    // from the victim's own tones, a -110 dB pickup read -77 dB at 16 kHz and
    // 0.05 ppm. Now every pair reads its set level within 1 dB, at every
    // octave, or is empty with the reason where the offsets could put the
    // pickup over half a bin off; each loop's offset is given. Noise at
    // -130 dBFS RMS: a -110 dB pickup stands 35 dB above its floor (at
    // -110 dBFS, 15 dB, the noise alone scatters it by 1 dB).
    struct row {
        double rate;
        std::vector<double> ppm;  // each loop's clock
        bool pickup_at_driver;    // the pickup read through the driver's clock, not the victim's
        double leak_db;           // every pair's; 0: xt_leak_db
        double a2, a3;
        size_t refused_from;  // the first octave refused (8: none)
        bool all_measured;    // else a pickup beside a product of the victim's own may be a bound, at or above it
    };
    const row rows[] = {
        {48000.0, {0.0, 0.05}, false, -110.0, 0.0, 0.0, 8, true},
        {48000.0, {0.0, 0.3}, false, -110.0, 0.0, 0.0, 8, true},
        {96000.0, {0.3, -0.3}, false, -110.0, 1e-2, 1e-2, 8, true},
        // A digital polynomial at 48 kHz folds a product of the 16 kHz tone
        // a bin beside it, which a steady tone's fit leaves.
        {48000.0, {0.3, -0.3}, false, -110.0, 1e-2, 1e-2, 8, false},
        {44100.0, {0.05, 0.0, 0.3}, false, -110.0, 0.0, 0.0, 8, true},
        {96000.0, {0.0, 5.0}, true, -110.0, 1e-3, 1e-3, 8, true},
        {48000.0, {-2.0, 3.0}, false, 0.0, 0.0, 0.0, 8, true},
        // 60 ppm: at 8 kHz the pickup could lie 0.33 bin off, at 16 kHz 0.66.
        {48000.0, {0.0, 60.0}, false, -110.0, 0.0, 0.0, 7, true},
    };
    for (const row& r : rows) {
        const int n_loops = static_cast<int>(r.ppm.size());
        SCOPED_TRACE(testing::Message() << r.rate << " Hz, " << n_loops << " loops, " << r.ppm[0] << ", " << r.ppm[1]
                                        << " ppm, pickup at the " << (r.pickup_at_driver ? "driver's" : "victim's")
                                        << " clock");
        const quality_plan p = quality_plan_make(r.rate, n_loops, quality_crosstalk_method::all_driven);
        const quality_segment& s = xt_segment(p);
        std::vector<xt_loop> loops;
        for (int l = 0; l < n_loops; l++)
            loops.push_back({1.0, r.a2, r.a3, xt_steady(r.ppm[static_cast<size_t>(l)])});
        const auto leak = [&](int from, int to) {
            return std::pow(10.0, (r.leak_db != 0.0 ? r.leak_db : xt_leak_db(from, to)) / 20.0);
        };
        const std::vector<std::vector<float>> in =
            xt_captures(p, s, loops, leak, 0.0, std::pow(10.0, -130.0 / 20.0), 7, r.pickup_at_driver);
        const quality_segment_captures spans(in.begin(), in.end());
        const double a = tones_amplitude(quality_pair_peak_dbfs) / 8.0;
        for (const quality_crosstalk_pair& pair : quality_crosstalk_read(p, s, spans)) {
            const double set = r.leak_db != 0.0 ? r.leak_db : xt_leak_db(pair.from, pair.to);
            const double expected = set - 20.0 * std::log10(1.0 + 11.25 * r.a3 * a * a);
            SCOPED_TRACE(testing::Message() << pair.from << " -> " << pair.to);
            ASSERT_TRUE(pair.from_offset_ppm && pair.to_offset_ppm);
            // A tone comes back low by its clock's offset.
            EXPECT_NEAR(*pair.from_offset_ppm, -r.ppm[static_cast<size_t>(pair.from)], 0.01);
            EXPECT_NEAR(*pair.to_offset_ppm, -r.ppm[static_cast<size_t>(pair.to)], 0.01);
            for (size_t k = 0; k < 8; k++) {
                if (k >= r.refused_from) {
                    EXPECT_FALSE(pair.octave_db[k].has_value()) << pair.octave_hz[k] << " Hz";
                    EXPECT_NE(pair.reason.find("half a bin"), std::string::npos) << pair.reason;
                    continue;
                }
                ASSERT_TRUE(pair.octave_db[k].has_value()) << pair.octave_hz[k] << " Hz: " << pair.reason;
                if (pair.octave_floor[k].bound) {
                    EXPECT_FALSE(r.all_measured) << pair.octave_hz[k] << " Hz";
                    EXPECT_GE(*pair.octave_db[k], expected - 1.0) << pair.octave_hz[k] << " Hz";
                } else
                    EXPECT_NEAR(*pair.octave_db[k], expected, 1.0) << pair.octave_hz[k] << " Hz";
            }
        }
    }
}

TEST(QualityCrosstalk, AWanderingClockGivesAReadingOrABoundAboveTheTruth)
{
    // The victim's clock wanders about its offset within the block, so its own
    // tones are no longer sinusoids that a fit takes out whole. What the fit
    // leaves raises the pickups' floors: each reads its set level within
    // 1 dB, or is a bound at or above it, never a number below the truth.
    // Noise -130 dBFS RMS.
    struct row {
        double rate, ppm, wander, period_s;
    };
    const row rows[] = {
        {48000.0, 0.3, 0.3, 0.4}, {48000.0, 0.0, 2.0, 0.25}, {44100.0, -1.0, 5.0, 1.0}, {96000.0, 0.05, 20.0, 0.1}};
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.rate << " Hz, " << r.ppm << " ppm wandering " << r.wander << " ppm every "
                                        << r.period_s << " s");
        const quality_plan p = quality_plan_make(r.rate, 2, quality_crosstalk_method::all_driven);
        const quality_segment& s = xt_segment(p);
        const std::vector<xt_loop> loops = {
            {1.0, 0.0, 0.0, xt_steady(0.0)},
            {1.0, 0.0, 0.0, xt_wandering(r.ppm, r.wander, r.period_s * r.rate, -s.settle_frames, s.analysed_frames)}};
        const auto leak = [](int, int) { return std::pow(10.0, -110.0 / 20.0); };
        const std::vector<std::vector<float>> in =
            xt_captures(p, s, loops, leak, 0.0, std::pow(10.0, -130.0 / 20.0), 11);
        const quality_segment_captures spans(in.begin(), in.end());
        int bounds = 0;
        for (const quality_crosstalk_pair& pair : quality_crosstalk_read(p, s, spans))
            for (size_t k = 0; k < 8; k++) {
                SCOPED_TRACE(testing::Message()
                             << pair.from << " -> " << pair.to << " at " << pair.octave_hz[k] << " Hz");
                if (!pair.octave_db[k]) {
                    EXPECT_FALSE(pair.reason.empty());
                    continue;
                }
                if (pair.octave_floor[k].bound) {
                    bounds++;
                    EXPECT_GE(*pair.octave_db[k], -111.0);
                } else
                    EXPECT_NEAR(*pair.octave_db[k], -110.0, 1.0);
            }
        RecordProperty("bounds_" + std::to_string(&r - rows), bounds);
    }
}

TEST(QualityCrosstalk, Aes17AndAllDrivenSideBySide)
{
    // Two loops, both methods. A linear leak reads the same ratio at any
    // level: AES17's -1 dBFS tone and the all-driven -19.06 dBFS tones agree
    // within 0.5 dB (and each within 0.05 dB of the leak). A leak that grows
    // with the level, g x^3 of the driving output (a shared supply's or
    // ground's current), is a ratio 2 dB larger for every dB more: AES17's
    // reads 3/4 g A^2, the all-driven tone its own share of the cube of eight
    // tones, each read against a direct DFT of g x^3 (0.1 dB), 12 dB and
    // more apart. Noise -130 dBFS RMS.
    struct row {
        double rate;
        double cube;  // g; 0: the linear leak
    };
    const row rows[] = {{48000.0, 0.0}, {44100.0, 0.0}, {96000.0, 0.0}, {48000.0, 1e-4}, {44100.0, 3e-5}};
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.rate << " Hz, cube " << r.cube);
        const quality_plan p = quality_plan_make(r.rate, 2);
        ASSERT_EQ(p.crosstalk, quality_crosstalk_method::automatic);
        const std::vector<xt_loop> loops = {{1.0, 0.0, 0.0, xt_steady(0.0)}, {0.9, 0.0, 0.0, xt_steady(0.0)}};
        const auto leak = [&](int from, int to) { return r.cube == 0.0 ? xt_linear()(from, to) : 0.0; };
        std::vector<std::vector<std::vector<float>>> store;
        std::vector<quality_segment_captures> captures(p.segments.size());
        for (size_t i = 0; i < p.segments.size(); i++) {
            const quality_segment& s = p.segments[i];
            if (s.kind != quality_kind::crosstalk && s.kind != quality_kind::crosstalk_aes17)
                continue;
            store.push_back(xt_captures(p, s, loops, leak, r.cube, std::pow(10.0, -130.0 / 20.0), 13 + i));
            captures[i] = quality_segment_captures(store.back().begin(), store.back().end());
        }
        const std::vector<quality_crosstalk_pair> pairs = quality_crosstalk_pairs(p, captures);
        ASSERT_EQ(pairs.size(), 4u);
        for (int from = 0; from < 2; from++) {
            const int to = 1 - from;
            SCOPED_TRACE(testing::Message() << from << " -> " << to);
            const quality_crosstalk_pair &aes17 = pairs[static_cast<size_t>(from)],
                                         &driven = pairs[static_cast<size_t>(2 + from)];
            ASSERT_EQ(aes17.method, quality_crosstalk_method::aes17);
            ASSERT_EQ(driven.method, quality_crosstalk_method::all_driven);
            ASSERT_EQ(aes17.from, from);
            ASSERT_EQ(driven.from, from);
            ASSERT_TRUE(aes17.db_1khz && driven.db_1khz) << aes17.reason << driven.reason;
            EXPECT_TRUE(aes17.octave_db.empty());
            const double gain = loops[static_cast<size_t>(from)].gain;
            if (r.cube == 0.0) {
                const double expected = xt_leak_db(from, to) - 20.0 * std::log10(gain);
                EXPECT_NEAR(*aes17.db_1khz, expected, 0.05);
                EXPECT_NEAR(*driven.db_1khz, expected, 0.2);
                EXPECT_NEAR(*aes17.db_1khz, *driven.db_1khz, 0.5);
                // The floors: the noise's three Hann bins, 12 sigma^2 / n, re
                // each method's tone (AES17's 18 dB higher), within the local
                // mean's scatter.
                const double three =
                    10.0 * std::log10(12.0 * std::pow(10.0, -130.0 / 10.0) / static_cast<double>(p.block));
                EXPECT_NEAR(*aes17.floor_1khz.db, three - 20.0 * std::log10(gain * tones_amplitude(-1.0)), 2.5);
                EXPECT_NEAR(*driven.floor_1khz.db,
                            three - 20.0 * std::log10(gain * tones_amplitude(quality_pair_peak_dbfs) / 8.0), 2.5);
                continue;
            }
            // The truth: g x^3 of the driving output (its gain is after the
            // crosstalk's take-off) at the driving tone, by a direct DFT of
            // the block, over that output's tone as received.
            for (const quality_crosstalk_pair* pair : {&aes17, &driven}) {
                const quality_segment& s = pair->method == quality_crosstalk_method::aes17
                                               ? xt_segment(p, quality_kind::crosstalk_aes17, from)
                                               : xt_segment(p);
                const std::vector<tone>& tones = quality_plan_tones(s, from);
                const tone& t = pair->method == quality_crosstalk_method::aes17 ? tones[0] : tones[quality_octave_1khz];
                double re = 0.0, im = 0.0;
                for (int64_t m = 0; m < p.block; m++) {
                    const double x = xt_output(p, s, from, m, 0.0);
                    const double angle =
                        -2.0 * xt_pi * static_cast<double>((t.bin * m) % p.block) / static_cast<double>(p.block);
                    re += r.cube * x * x * x * std::cos(angle), im += r.cube * x * x * x * std::sin(angle);
                }
                const double picked = 2.0 * std::hypot(re, im) / static_cast<double>(p.block);
                EXPECT_NEAR(*pair->db_1khz, 20.0 * std::log10(picked / (gain * t.amplitude)), 0.1)
                    << quality_plan_method_name(pair->method);
            }
            // 3/4 g A^2 against about 11.25 g a^2 with A = 8 a, 20 log10(48 /
            // 11.25) = 12.6 dB (and a little of the cube's other products of
            // the eight tones that land on the tone near 1 kHz).
            EXPECT_GT(*aes17.db_1khz - *driven.db_1khz, 11.5);
        }
    }
}
