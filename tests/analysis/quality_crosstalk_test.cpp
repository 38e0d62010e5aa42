// The crosstalk of every ordered pair of loops from the one segment in which
// every loop plays its own tones: synthetic captures in which each loop's
// input is its own output, bent by a polynomial (its converters' distortion,
// whose products must not pass for crosstalk), plus every other output at a
// level of its own; the truth is the levels set and the polynomial's closed
// form. The signals are built here with std::cos, independent of the plan's
// own tone synthesis.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <set>
#include <vector>

#include "analysis/quality_crosstalk.hpp"
#include "analysis/quality_figures.hpp"
#include "analysis/tones.hpp"

namespace {

const quality_segment& xt_segment(const quality_plan& p)
{
    for (const quality_segment& s : p.segments)
        if (s.kind == quality_kind::crosstalk)
            return s;
    throw std::logic_error("no crosstalk segment");
}

// The loop's tones as it plays them, frame m of the block from phase 0
// (m negative in the settle), in double.
double xt_output(const quality_plan& p, const quality_segment& s, int loop, int64_t m)
{
    double x = 0.0;
    for (const tone& t : quality_plan_tones(s, loop)) {
        const int64_t r = (t.bin * (((m % p.block) + p.block) % p.block)) % p.block;
        x += t.amplitude * std::cos(2.0 * std::numbers::pi * static_cast<double>(r) / static_cast<double>(p.block));
    }
    return x;
}

// The level set from loop `from` into loop `to`, dB: -70 to -120, a
// different one for each pair near it.
double xt_leak_db(int from, int to) { return -70.0 - 5.0 * ((3 * from + 7 * to) % 11); }

}  // namespace

TEST(QualityCrosstalk, EveryOrderedPairReadsItsLevelFromOneSegment)
{
    // Input k = g_k P(out_k) + sum over j != k of leak(j, k) out_j, with
    // P(x) = x + a2 x^2 + a3 x^3. The cube takes each of a loop's eight tones
    // of peak A to A (1 + a3 A^2 (3/4 + 7 x 3/2)); the square puts nothing on
    // an odd bin. So from's tone reads g_from A (1 + 11.25 a3 A^2) on its
    // own input and leak A on to's: every pair reads leak over that, to the
    // float32 captures' rounding (2e-10 a bin under the loop's own -19 dBFS
    // tones, 55 dB below a -120 dB pickup: 0.02 dB).
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
        const quality_plan p = quality_plan_make(r.rate, r.loops);
        const quality_segment& s = xt_segment(p);
        const size_t frames = static_cast<size_t>(s.settle_frames + s.analysed_frames);
        std::vector<std::vector<double>> out(static_cast<size_t>(r.loops), std::vector<double>(frames));
        for (int l = 0; l < r.loops; l++)
            for (size_t i = 0; i < frames; i++)
                out[static_cast<size_t>(l)][i] = xt_output(p, s, l, static_cast<int64_t>(i) - s.settle_frames);
        const auto gain = [](int l) { return 1.0 - 0.05 * l; };
        std::vector<std::vector<float>> in(static_cast<size_t>(r.loops), std::vector<float>(frames));
        for (int to = 0; to < r.loops; to++)
            for (size_t i = 0; i < frames; i++) {
                const double x = out[static_cast<size_t>(to)][i];
                double y = gain(to) * (x + r.a2 * x * x + r.a3 * x * x * x);
                for (int from = 0; from < r.loops; from++)
                    if (from != to)
                        y += std::pow(10.0, xt_leak_db(from, to) / 20.0) * out[static_cast<size_t>(from)][i];
                in[static_cast<size_t>(to)][i] = static_cast<float>(y);
            }
        const quality_segment_captures spans(in.begin(), in.end());
        const std::vector<quality_crosstalk_pair> pairs = quality_crosstalk_read(p, s, spans);
        ASSERT_EQ(pairs.size(), static_cast<size_t>(r.loops * (r.loops - 1)));
        const double a = tones_amplitude(quality_pair_peak_dbfs) / 8.0;
        std::vector<double> worst(static_cast<size_t>(r.loops), -400.0);
        for (const quality_crosstalk_pair& pair : pairs) {
            const double expected =
                xt_leak_db(pair.from, pair.to) - 20.0 * std::log10(gain(pair.from) * (1.0 + 11.25 * r.a3 * a * a));
            ASSERT_TRUE(pair.db_1khz.has_value()) << pair.reason;
            EXPECT_NEAR(*pair.db_1khz, expected, 0.02) << pair.from << " -> " << pair.to;
            ASSERT_EQ(pair.octave_db.size(), 8u);
            for (size_t k = 0; k < 8; k++) {
                ASSERT_TRUE(pair.octave_db[k].has_value());
                EXPECT_NEAR(*pair.octave_db[k], expected, 0.02)
                    << pair.from << " -> " << pair.to << " at " << pair.octave_hz[k] << " Hz";
            }
            EXPECT_EQ(pair.octave_hz[quality_octave_1khz], pair.octave_hz[3]);
            worst[static_cast<size_t>(pair.to)] = std::max(worst[static_cast<size_t>(pair.to)], expected);
        }
        // The analysis's per-loop figure: the worst of the other loops into it.
        std::vector<quality_segment_captures> captures(p.segments.size());
        captures.back() = spans;
        const std::vector<quality_loop_figures> loops = quality_analyse(p, captures);
        for (int l = 0; l < r.loops; l++) {
            ASSERT_TRUE(loops[static_cast<size_t>(l)].crosstalk_db.has_value());
            EXPECT_NEAR(*loops[static_cast<size_t>(l)].crosstalk_db, worst[static_cast<size_t>(l)], 0.02) << l;
        }
    }
}

TEST(QualityCrosstalk, EachLoopsTonesNearTheCentresClearOfTheOthersProducts)
{
    // Every loop's tones odd, 4 bins or more from every other loop's, within
    // the distance given of the octave centres; and no other loop's product
    // up to the third order, nor its harmonics up to the tenth, on them.
    struct row {
        double rate;
        int loops;
        double within_hz;
    };
    const row rows[] = {{44100.0, 2, 6.9},  {48000.0, 2, 8.4},  {48000.0, 3, 8.4},  {44100.0, 8, 24.3},
                        {48000.0, 8, 31.8}, {96000.0, 8, 31.8}, {192000.0, 8, 31.8}};
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.rate << " Hz, " << r.loops << " loops");
        const quality_plan p = quality_plan_make(r.rate, r.loops);
        const quality_segment& s = xt_segment(p);
        ASSERT_EQ(s.loop_tones.size(), static_cast<size_t>(r.loops));
        for (int from = 0; from < r.loops; from++) {
            const std::vector<tone>& own = quality_plan_tones(s, from);
            ASSERT_EQ(own.size(), 8u);
            std::set<int64_t> made;
            for (size_t i = 0; i < own.size(); i++) {
                EXPECT_EQ(own[i].bin % 2, 1);
                EXPECT_LE(std::fabs(tones_hz(own[i].bin, r.rate, p.block) - quality_octave_hz[i]), r.within_hz);
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
                    EXPECT_GE(std::llabs(theirs - own[i].bin), 4);
                    EXPECT_EQ(made.count(theirs), 0u) << "loop " << from << "'s product on loop " << to << "'s "
                                                      << quality_octave_hz[i] << " Hz tone";
                }
            }
        }
    }
}
