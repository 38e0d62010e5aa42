// The quality battery on synthetic captures whose figures follow in closed
// form: tones with harmonics of chosen levels, a tone in white noise of known
// variance, two tones through a polynomial, a digital loop, crosstalk and a
// second loop of known gain and polarity. The signals are built here with
// std::cos, independent of the plan's own tone synthesis.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <random>
#include <vector>

#include "analysis/distortion.hpp"
#include "analysis/quality_figures.hpp"
#include "analysis/tones.hpp"
#include "analysis/weighting.hpp"

namespace {

constexpr double pi = std::numbers::pi;

const quality_segment& find(const quality_plan& p, quality_kind kind, double level = -1.0)
{
    for (const quality_segment& s : p.segments)
        if (s.kind == kind && (kind != quality_kind::tone || s.level_dbfs == level))
            return s;
    throw std::logic_error("segment not in the plan");
}

// cos(2 pi bin m / n) with the phase reduced in integers, m counted from the
// analysed block's first frame (negative during the settle).
double cosine(int64_t bin, int64_t m, int64_t n, double phase = 0.0)
{
    const int64_t r = ((bin % n) * (((m % n) + n) % n)) % n;
    return std::cos(2.0 * pi * static_cast<double>(r) / static_cast<double>(n) + phase);
}

// A capture of the segment's settle and block: sample(m) at block frame m.
std::vector<float> segment_capture(const quality_segment& s, const std::function<double(int64_t)>& sample)
{
    std::vector<float> c(static_cast<size_t>(s.settle_frames + s.analysed_frames));
    for (size_t i = 0; i < c.size(); i++)
        c[i] = static_cast<float>(sample(static_cast<int64_t>(i) - s.settle_frames));
    return c;
}

double db(double ratio) { return 20.0 * std::log10(ratio); }

}  // namespace

TEST(QualityFigures, HarmonicsAndThdMatchTheirLevelsDownTo130dB)
{
    struct row {
        double rate;
        std::vector<std::pair<int, double>> harmonics;  // order, dB re the fundamental
    };
    const row rows[] = {
        {48000.0, {{2, -20.0}, {3, -40.0}, {5, -80.0}, {10, -130.0}}},
        {44100.0, {{2, -130.0}, {3, -60.0}, {7, -100.0}}},
        {96000.0, {{4, -110.0}, {9, -120.0}}},
        {192000.0, {{2, -20.0}, {3, -125.0}, {6, -90.0}}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.rate << " Hz");
        const quality_plan p = quality_plan_make(r.rate, 1);
        const quality_segment& s = find(p, quality_kind::tone, -1.0);
        const int64_t k = s.tones[0].bin;
        const double a = std::pow(10.0, -1.0 / 20.0);
        // Harmonics at odd phases, so that none lines up with the fundamental's.
        const std::vector<float> c = segment_capture(s, [&](int64_t m) {
            double x = a * cosine(k, m, p.block);
            for (const auto& [order, level] : r.harmonics)
                x += a * std::pow(10.0, level / 20.0) * 0.5 * cosine(order * k, m, p.block, 0.7 * order);
            return x;
        });
        const quality_tone_figures f = quality_tone_measure(p, s, c);
        ASSERT_TRUE(f.valid) << f.reason;
        double sum = 0.0;
        for (int order = 2; order <= 10; order++) {
            const auto it =
                std::find_if(r.harmonics.begin(), r.harmonics.end(), [&](auto& h) { return h.first == order; });
            ASSERT_TRUE(f.harmonics_db[order - 2].has_value());
            if (it == r.harmonics.end()) {
                EXPECT_LT(*f.harmonics_db[order - 2], -150.0) << "H" << order;
                continue;
            }
            // Half the fundamental's amplitude: level - 6.02 dB.
            const double expected = it->second + db(0.5);
            EXPECT_NEAR(*f.harmonics_db[order - 2], expected, 0.05) << "H" << order;
            sum += std::pow(10.0, expected / 10.0);
        }
        EXPECT_NEAR(*f.thd_db, 10.0 * std::log10(sum), 0.05);
        EXPECT_NEAR(*f.gain_db, 0.0, 1e-4);
    }
}

TEST(QualityFigures, ThdNAndNoiseOfWhiteNoiseMatchItsVarianceInTheBand)
{
    struct row {
        double rate, noise_db;  // the noise's RMS re the tone's
        bool tone;
    };
    const row rows[] = {{48000.0, -60.0, true},  {44100.0, -100.0, true}, {96000.0, -80.0, true},
                        {192000.0, -40.0, true}, {48000.0, -90.0, false}, {192000.0, -110.0, false}};
    std::mt19937_64 generator(20261208);
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.rate << " Hz, noise " << r.noise_db << " dB, tone " << r.tone);
        const quality_plan p = quality_plan_make(r.rate, 1);
        const quality_segment& s = r.tone ? find(p, quality_kind::tone, -20.0) : find(p, quality_kind::idle);
        const double a = std::pow(10.0, -20.0 / 20.0),
                     sigma = a / std::numbers::sqrt2 * std::pow(10.0, r.noise_db / 20.0);
        std::normal_distribution<double> normal(0.0, sigma);
        std::vector<double> noise(static_cast<size_t>(s.settle_frames + s.analysed_frames));
        for (double& v : noise)
            v = normal(generator);
        // Truth: the variance this block's noise actually has, times the
        // share of the spectrum the band holds.
        double mean = 0.0, variance = 0.0;
        for (int64_t m = 0; m < s.analysed_frames; m++)
            mean += noise[static_cast<size_t>(s.settle_frames + m)] / static_cast<double>(s.analysed_frames);
        for (int64_t m = 0; m < s.analysed_frames; m++)
            variance += std::pow(noise[static_cast<size_t>(s.settle_frames + m)] - mean, 2) /
                        static_cast<double>(s.analysed_frames);
        const double in_band = variance * (weighting_band_high_hz - weighting_band_low_hz) / (r.rate / 2.0);
        const std::vector<float> c = segment_capture(s, [&](int64_t m) {
            return noise[static_cast<size_t>(m + s.settle_frames)] +
                   (r.tone ? a * cosine(s.tones[0].bin, m, p.block) : 0.0);
        });
        if (r.tone) {
            const quality_tone_figures f = quality_tone_measure(p, s, c);
            ASSERT_TRUE(f.valid) << f.reason;
            EXPECT_NEAR(*f.thd_n_db, 10.0 * std::log10(in_band / (a * a / 2.0)), 0.1);
            EXPECT_NEAR(*f.thd_n_pct, 100.0 * std::sqrt(in_band / (a * a / 2.0)), 0.012 * *f.thd_n_pct);
        } else {
            const quality_noise_figures f = quality_noise_measure(p, s, c);
            ASSERT_TRUE(f.valid) << f.reason;
            EXPECT_NEAR(*f.noise_dbfs, 10.0 * std::log10(2.0 * in_band), 0.1);
            // White noise A-weighted over the band: the weighting's mean square there.
            double mean_square = 0.0;
            for (double hz = 20.0; hz < 20000.0; hz += 1.0)
                mean_square += std::pow(weighting_a_gain(hz + 0.5), 2) / 19980.0;
            EXPECT_NEAR(*f.noise_dbfs_a, 10.0 * std::log10(2.0 * in_band * mean_square), 0.1);
        }
    }
}

TEST(QualityFigures, HumIsWeightedAtItsPowerWhateverItsPhaseAtTheBlocksStart)
{
    // Mains hum with harmonics 2 .. H at 1/k of the fundamental (peak), not
    // coherent with the block: the idle noise and the -60 dBFS tone's THD+N,
    // A-weighted, against the hum's weighted power in closed form, with the
    // hum started at eight points of its period. Read without a window they
    // came out up to 0.8 dB high, by that phase.
    struct row {
        double rate, hz, dbfs;
        int harmonics;
    };
    const row rows[] = {{48000.0, 50.0, -80.0, 5}, {44100.0, 60.0, -70.0, 5}, {96000.0, 50.0, -60.0, 1}};
    for (const row& r : rows) {
        const quality_plan p = quality_plan_make(r.rate, 1);
        const double a = std::pow(10.0, r.dbfs / 20.0);
        double weighted = 0.0;  // mean square
        for (int k = 1; k <= r.harmonics; k++)
            weighted += std::pow(a / k * weighting_a_gain(k * r.hz), 2) / 2.0;
        for (int phase = 0; phase < 8; phase++) {
            SCOPED_TRACE(testing::Message() << r.rate << " Hz, hum " << r.hz << " Hz, phase " << phase << "/8");
            const double start = phase / 8.0 * r.rate / r.hz;
            const auto hum = [&](int64_t m) {
                double v = 0.0;
                for (int k = 1; k <= r.harmonics; k++)
                    v += a / k * std::sin(2.0 * pi * k * r.hz * (static_cast<double>(m) + start) / r.rate);
                return v;
            };
            const quality_segment& idle = find(p, quality_kind::idle);
            const quality_noise_figures n = quality_noise_measure(p, idle, segment_capture(idle, hum));
            ASSERT_TRUE(n.valid) << n.reason;
            EXPECT_NEAR(*n.noise_dbfs_a, 10.0 * std::log10(2.0 * weighted), 0.02);
            const quality_segment& low = find(p, quality_kind::tone, -60.0);
            const double t = std::pow(10.0, -60.0 / 20.0);
            const quality_tone_figures f = quality_tone_measure(
                p, low,
                segment_capture(low, [&](int64_t m) { return t * cosine(low.tones[0].bin, m, p.block) + hum(m); }));
            ASSERT_TRUE(f.valid) << f.reason;
            EXPECT_NEAR(*f.thd_n_a_db, 10.0 * std::log10(weighted / (t * t / 2.0)), 0.02);
        }
    }
}

TEST(QualityFigures, AWeightingWithinClass1OfIec61672sTable)
{
    // Nominal third-octave centres, the table's A-weighting (dB) and class 1's
    // tolerances (+, -; 99 where the table gives minus infinity), at the
    // exact base-ten frequencies 1000 x 10^(i/10).
    struct row {
        double nominal_hz, a_db, plus, minus;
    };
    const row rows[] = {
        {10, -70.4, 3.5, 99},     {12.5, -63.4, 3.0, 99},  {16, -56.7, 2.5, 4.5},   {20, -50.5, 2.5, 2.5},
        {25, -44.7, 2.5, 2.0},    {31.5, -39.4, 2.0, 2.0}, {40, -34.6, 1.5, 1.5},   {50, -30.2, 1.5, 1.5},
        {63, -26.2, 1.5, 1.5},    {80, -22.5, 1.5, 1.5},   {100, -19.1, 1.5, 1.5},  {125, -16.1, 1.5, 1.5},
        {160, -13.4, 1.5, 1.5},   {200, -10.9, 1.5, 1.5},  {250, -8.6, 1.4, 1.4},   {315, -6.6, 1.4, 1.4},
        {400, -4.8, 1.4, 1.4},    {500, -3.2, 1.4, 1.4},   {630, -1.9, 1.4, 1.4},   {800, -0.8, 1.4, 1.4},
        {1000, 0.0, 1.1, 1.1},    {1250, 0.6, 1.4, 1.4},   {1600, 1.0, 1.6, 1.6},   {2000, 1.2, 1.6, 1.6},
        {2500, 1.3, 1.6, 1.6},    {3150, 1.2, 1.6, 1.6},   {4000, 1.0, 1.6, 1.6},   {5000, 0.5, 1.8, 1.8},
        {6300, -0.1, 2.1, 2.1},   {8000, -1.1, 2.1, 3.1},  {10000, -2.5, 2.6, 3.6}, {12500, -4.3, 3.0, 6.0},
        {16000, -6.6, 3.5, 17.0}, {20000, -9.3, 4.0, 99},
    };
    for (size_t i = 0; i < std::size(rows); i++) {
        const row& r = rows[i];
        const double hz = 1000.0 * std::pow(10.0, (static_cast<double>(i) - 20.0) / 10.0);
        const double a = weighting_a_db(hz);
        SCOPED_TRACE(testing::Message() << r.nominal_hz << " Hz");
        EXPECT_LE(a, r.a_db + r.plus);
        EXPECT_GE(a, r.a_db - r.minus);
        // The table is the closed form rounded to 0.1 dB.
        EXPECT_NEAR(a, r.a_db, 0.051);
    }
    EXPECT_EQ(weighting_a_db(1000.0), 0.0);
}

TEST(QualityFigures, DigitalLoopFloorAndSecondLoopsGainPhaseAndCrosstalk)
{
    // Loop 0 a float32 digital loop; loop 1 the same at -0.5 x (-6.02 dB,
    // inverted), and in the crosstalk segment each input also receives the
    // other output at -90 dB.
    const double gain1 = -0.5, leak = std::pow(10.0, -90.0 / 20.0);
    for (const double rate : {44100.0, 48000.0, 96000.0, 192000.0}) {
        SCOPED_TRACE(testing::Message() << rate << " Hz");
        const quality_plan p = quality_plan_make(rate, 2);
        std::vector<std::vector<float>> store;
        std::vector<quality_segment_captures> captures;
        for (const quality_segment& s : p.segments) {
            const std::vector<float> out0 = quality_plan_stimulus(p, s, 0), out1 = quality_plan_stimulus(p, s, 1);
            // Crosstalk only where the loops play their own tones (all
            // driven, or one at a time), so that the other segments stay a
            // pure digital loop.
            const double l = s.kind == quality_kind::crosstalk || s.kind == quality_kind::crosstalk_aes17 ? leak : 0.0;
            std::vector<float> in0(out0.size()), in1(out0.size());
            for (size_t i = 0; i < out0.size(); i++) {
                in0[i] = static_cast<float>(out0[i] + l * out1[i]);
                in1[i] = static_cast<float>(gain1 * out1[i] + l * out0[i]);
            }
            store.push_back(in0), store.push_back(in1);
        }
        for (size_t i = 0; i < p.segments.size(); i++)
            captures.push_back({store[2 * i], store[2 * i + 1]});
        const std::vector<quality_loop_figures> loops = quality_analyse(p, captures);
        ASSERT_EQ(loops.size(), 2u);
        for (const quality_loop_figures& f : loops) {
            ASSERT_TRUE(f.valid) << f.reason;
            ASSERT_EQ(f.tones.size(), 3u);
            // The notch leaves nothing of a float32 tone but its rounding.
            EXPECT_LE(*f.tones[0].thd_n_db, -150.0);
            for (const quality_tone_figures& t : f.tones) {
                EXPECT_LE(*t.thd_n_db, -140.0) << t.conditions.level_dbfs;
                EXPECT_LE(*t.thd_n_a_db, -140.0) << t.conditions.level_dbfs;
                EXPECT_NEAR(*t.conditions.received_dbfs, t.conditions.level_dbfs + (f.loop == 0 ? 0.0 : db(0.5)), 1e-4);
            }
            EXPECT_LE(*f.noise.noise_dbfs, -140.0);
            EXPECT_GE(*f.dynamic_range_db_a, 140.0);
            EXPECT_LE(*f.smpte.db, -140.0);
            EXPECT_LE(*f.ccif.db, -140.0);
            // Loop 0 hears loop 1's output at -90 dB re loop 1's own input,
            // which is 6.02 dB down.
            const double crosstalk = -90.0 - (f.loop == 0 ? db(0.5) : 0.0);
            EXPECT_NEAR(*f.crosstalk_db, crosstalk, 1e-3);
            for (const quality_crosstalk_row& x : f.crosstalk_octaves)
                EXPECT_NEAR(*x.db, crosstalk, 1e-3) << x.hz;
        }
        EXPECT_NEAR(*loops[0].gain_db, 0.0, 1e-5);
        EXPECT_NEAR(*loops[1].gain_db, db(0.5), 1e-5);
        EXPECT_NEAR(*loops[1].match_gain_db, db(0.5), 1e-5);
        EXPECT_NEAR(std::fabs(*loops[1].match_phase_deg), 180.0, 1e-4);
        EXPECT_FALSE(loops[0].match_gain_db.has_value());
    }
}

TEST(QualityFigures, IntermodulationOfAPolynomialMatchesItsExpansion)
{
    // y = x + a2 x^2 + a3 x^3 on x = A1 cos w1 t + A2 cos w2 t puts a2 A1 A2 on
    // f2 +- f1, 3 a3 A1^2 A2 / 4 on f2 +- 2 f1 (= 2 f1 - f2 for a pair close
    // together), 3 a3 A1 A2^2 / 4 on 2 f2 - f1, and takes each tone to Ai +
    // a3 (3 Ai^3 / 4 + 3 Ai Aj^2 / 2). A product that is not there reads as a
    // bound (float32 rounding).
    struct row {
        quality_kind kind;
        double rate, a2, a3;
    };
    const row rows[] = {{quality_kind::smpte, 48000.0, 1e-3, 1e-4}, {quality_kind::smpte, 96000.0, 0.0, 1e-2},
                        {quality_kind::smpte, 44100.0, 3e-6, 0.0},  {quality_kind::ccif, 48000.0, 1e-2, 0.0},
                        {quality_kind::ccif, 44100.0, 1e-4, -1e-3}, {quality_kind::ccif, 192000.0, 2e-5, 2e-5},
                        {quality_kind::ccif, 96000.0, 0.0, 3e-4},   {quality_kind::ccif, 88200.0, 1e-3, 0.0}};
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << quality_plan_kind_name(r.kind) << " " << r.rate << " Hz a2 " << r.a2
                                        << " a3 " << r.a3);
        const quality_plan p = quality_plan_make(r.rate, 1);
        const quality_segment& s = find(p, r.kind);
        const double a1 = s.tones[0].amplitude, a2 = s.tones[1].amplitude;
        const std::vector<float> c = segment_capture(s, [&](int64_t m) {
            const double x = a1 * cosine(s.tones[0].bin, m, p.block) + a2 * cosine(s.tones[1].bin, m, p.block);
            return x + r.a2 * x * x + r.a3 * x * x * x;
        });
        const double second = r.a2 * a1 * a2, third = 0.75 * r.a3 * a1 * a1 * a2;
        const double t1 = a1 + r.a3 * (0.75 * a1 * a1 * a1 + 1.5 * a1 * a2 * a2);
        const double t2 = a2 + r.a3 * (0.75 * a2 * a2 * a2 + 1.5 * a1 * a1 * a2);
        const double expected = r.kind == quality_kind::smpte
                                    ? std::sqrt(2.0 * second * second + 2.0 * third * third) / t2
                                    : std::hypot(second, third) / std::hypot(t1, t2);
        const quality_imd_figures f = quality_imd_measure(p, s, c);
        ASSERT_TRUE(f.valid) << f.reason;
        EXPECT_NEAR(*f.db, db(expected), 0.05);
        EXPECT_FALSE(f.floor.bound);
        if (r.kind == quality_kind::smpte) {
            EXPECT_FALSE(f.d2_db.has_value());
            continue;
        }
        // IEC 60268-3's difference-frequency distortion, re twice f2's
        // amplitude: d2 = a2 A1 A2, d3 = 3/4 a3 A1 A2 (A1 + A2) (2 f1 - f2 and
        // 2 f2 - f1 summed).
        const double upper = 0.75 * r.a3 * a1 * a2 * a2;
        EXPECT_NEAR(*f.reference_dbfs, db(2.0 * t2), 1e-3);
        EXPECT_EQ(f.d2_floor.bound, r.a2 == 0.0);
        EXPECT_EQ(f.d3_floor.bound, r.a3 == 0.0);
        if (r.a2 != 0.0) {
            EXPECT_NEAR(*f.d2_db, db(std::fabs(second) / (2.0 * t2)), 0.05);
        }
        if (r.a3 != 0.0) {
            EXPECT_NEAR(*f.d3_db, db((std::fabs(third) + std::fabs(upper)) / (2.0 * t2)), 0.05);
        }
        // The former figure, d2 and the lower d3 together re the tones' RSS,
        // lies 3 dB above d2 alone where d2 is all of it: RSS(A1, A2) = sqrt 2 A
        // against 2 A.
        if (r.a3 == 0.0) {
            EXPECT_NEAR(*f.db - *f.d2_db, 20.0 * std::log10(2.0 / std::numbers::sqrt2), 0.05);
        }
    }
}

TEST(QualityPlan, CoherentAtEveryRate)
{
    for (const double rate : {44100.0, 48000.0, 96000.0, 192000.0}) {
        SCOPED_TRACE(testing::Message() << rate << " Hz");
        const quality_plan p = quality_plan_make(rate, 3);
        EXPECT_EQ(p.block & (p.block - 1), 0) << "a power of two";
        EXPECT_GE(static_cast<double>(p.block), 0.6 * rate);
        ASSERT_EQ(p.segments.size(), 7u);
        int64_t start = 0;
        for (const quality_segment& s : p.segments) {
            EXPECT_EQ(s.start, start);
            start += s.settle_frames + s.analysed_frames + s.tail_frames;
            EXPECT_GE(static_cast<double>(s.settle_frames), 0.2 * rate - 1.0);
            // Every tone of every loop an odd whole number of cycles in the
            // block, and each loop's stimulus's block exactly those cosines
            // from phase 0, their peaks summing to the level.
            for (int loop = 0; loop < p.loops; loop++) {
                const std::vector<tone>& tones = quality_plan_tones(s, loop);
                double peak = 0.0;
                for (const tone& t : tones)
                    EXPECT_EQ(t.bin % 2, 1);
                const std::vector<float> x = quality_plan_stimulus(p, s, loop);
                ASSERT_EQ(static_cast<int64_t>(x.size()), s.settle_frames + s.analysed_frames + s.tail_frames);
                for (int64_t m = 0; m < s.analysed_frames; m++) {
                    double expected = 0.0;
                    for (const tone& t : tones)
                        expected += t.amplitude * cosine(t.bin, m, p.block);
                    ASSERT_NEAR(x[static_cast<size_t>(s.settle_frames + m)], expected, 1e-6)
                        << quality_plan_kind_name(s.kind) << " loop " << loop << " frame " << m;
                    peak = std::max(peak, std::fabs(expected));
                }
                if (!tones.empty()) {
                    EXPECT_NEAR(db(peak), s.level_dbfs, 1e-6);
                }
                EXPECT_LT(std::fabs(x.front()) + std::fabs(x.back()), 1e-3) << "faded in and out";
            }
        }
        EXPECT_EQ(quality_plan_frames(p), start);
        const auto near = [&](const quality_segment& s, size_t i, double hz) {
            EXPECT_LE(std::fabs(tones_hz(s.tones[i].bin, rate, p.block) - hz), rate / static_cast<double>(p.block));
        };
        near(find(p, quality_kind::tone, -1.0), 0, 997.0);
        near(find(p, quality_kind::smpte), 0, 60.0), near(find(p, quality_kind::smpte), 1, 7000.0);
    }
    EXPECT_EQ(quality_plan_make(48000.0, 1).segments.size(), 6u) << "no crosstalk with one loop";
    for (const auto& [rate, loops] :
         std::vector<std::pair<double, int>>{{NAN, 2}, {INFINITY, 2}, {0.0, 2}, {22050.0, 2}, {1e9, 2}, {48000.0, 0}}) {
        const quality_plan p = quality_plan_make(rate, loops);
        EXPECT_NE(p.error, "") << rate << " Hz, " << loops << " loops";
        EXPECT_TRUE(p.segments.empty());
    }
}

TEST(QualityPlan, PlaysUnderTenSecondsForUpToEightLoops)
{
    // Six segments, and with two loops or more the crosstalk's: by default
    // with two loops AES17's, one per loop, and the all-driven one (the
    // battery's default within 10 s); from three loops the all-driven one
    // alone. Settle, block and tail each, frames over the rate. AES17's asked
    // for eight loops plays longer, as asked.
    struct row {
        double rate;
        int loops;
        quality_crosstalk_method method;
        double seconds;
        size_t aes17, all_driven;  // segments of each
    };
    const auto automatic = quality_crosstalk_method::automatic, aes17 = quality_crosstalk_method::aes17,
               all = quality_crosstalk_method::all_driven, both = quality_crosstalk_method::both;
    const row rows[] = {{44100.0, 1, automatic, 5.718, 0, 0}, {44100.0, 2, automatic, 8.577, 2, 1},
                        {44100.0, 8, automatic, 6.671, 0, 1}, {48000.0, 1, automatic, 5.356, 0, 0},
                        {48000.0, 2, automatic, 8.034, 2, 1}, {48000.0, 8, automatic, 6.249, 0, 1},
                        {96000.0, 1, automatic, 5.356, 0, 0}, {96000.0, 2, automatic, 8.034, 2, 1},
                        {96000.0, 8, automatic, 6.249, 0, 1}, {88200.0, 2, automatic, 8.577, 2, 1},
                        {88200.0, 8, automatic, 6.671, 0, 1}, {192000.0, 8, automatic, 6.249, 0, 1},
                        {48000.0, 3, automatic, 6.249, 0, 1}, {48000.0, 2, all, 6.249, 0, 1},
                        {48000.0, 2, aes17, 7.141, 2, 0},     {44100.0, 3, both, 9.530, 3, 1},
                        {48000.0, 8, aes17, 12.497, 8, 0},    {48000.0, 1, both, 5.356, 0, 0}};
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.rate << " Hz, " << r.loops << " loops, "
                                        << quality_plan_method_name(r.method));
        const quality_plan p = quality_plan_make(r.rate, r.loops, r.method);
        const double seconds = static_cast<double>(quality_plan_frames(p)) / r.rate;
        EXPECT_NEAR(seconds, r.seconds, 0.001);
        if (r.method == automatic) {
            EXPECT_LT(seconds, 10.0);
        }
        size_t aes17s = 0, alls = 0;
        for (const quality_segment& s : p.segments) {
            if (s.kind == quality_kind::crosstalk_aes17) {
                // The loops in order, each alone: its 997 Hz tone at -1 dBFS.
                EXPECT_EQ(s.driven, static_cast<int>(aes17s));
                for (int l = 0; l < r.loops; l++)
                    EXPECT_EQ(quality_plan_tones(s, l).size(), l == s.driven ? 1u : 0u);
                EXPECT_EQ(quality_plan_tones(s, s.driven)[0].bin, find(p, quality_kind::tone, -1.0).tones[0].bin);
                EXPECT_NEAR(db(quality_plan_tones(s, s.driven)[0].amplitude), -1.0, 1e-9);
                aes17s++;
            }
            alls += s.kind == quality_kind::crosstalk;
        }
        EXPECT_EQ(aes17s, r.aes17);
        EXPECT_EQ(alls, r.all_driven);
    }
    for (const char* word : {"auto", "aes17", "all-driven", "both"}) {
        quality_crosstalk_method m = quality_crosstalk_method::both;
        EXPECT_TRUE(quality_plan_method_parse(word, m)) << word;
        EXPECT_EQ(quality_plan_method_name(m), word);
    }
    quality_crosstalk_method m = quality_crosstalk_method::aes17;
    for (const char* word : {"", "AES17", "all", "all_driven", "aes17 "})
        EXPECT_FALSE(quality_plan_method_parse(word, m)) << word;
}

TEST(QualityFigures, FaultsLeaveTheFiguresEmptyWithAReason)
{
    const quality_plan p = quality_plan_make(48000.0, 1);
    const quality_segment& s = find(p, quality_kind::tone, -1.0);
    const int64_t k = s.tones[0].bin;
    const double a = s.tones[0].amplitude;
    struct row {
        const char* name;
        std::function<double(int64_t)> sample;
        int64_t frames;  // 0: all
        const char* reason;
    };
    const row rows[] = {
        {"clipped", [&](int64_t m) { return std::clamp(1.2 * a * cosine(k, m, p.block), -1.0, 1.0); }, 0, "clipped"},
        {"just under", [&](int64_t m) { return 0.988 / a * a * cosine(k, m, p.block); }, 0, ""},
        {"silent", [](int64_t) { return 0.0; }, 0, "no tone"},
        {"short", [&](int64_t m) { return a * cosine(k, m, p.block); }, -1, "too short"},
        {"not a number", [&](int64_t m) { return m == 100 ? NAN : a * cosine(k, m, p.block); }, 0, "not finite"},
        // 10 ppm of 997 Hz: the output's clock a little fast.
        {"off its bin",
         [&](int64_t m) {
             return a * std::cos(2.0 * pi * static_cast<double>(k) * (1.0 + 1e-5) * static_cast<double>(m) /
                                 static_cast<double>(p.block));
         },
         0, "off its bin"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        std::vector<float> c = segment_capture(s, r.sample);
        if (r.frames < 0)
            c.pop_back();
        const quality_tone_figures f = quality_tone_measure(p, s, c);
        EXPECT_EQ(f.valid, *r.reason == 0);
        EXPECT_NE(f.reason.find(r.reason), std::string::npos) << f.reason;
        EXPECT_EQ(f.thd_n_db.has_value(), f.valid);
        EXPECT_EQ(f.harmonics_db[0].has_value(), f.valid);
    }
}

TEST(QualityFigures, CoherentProductsReadTheSameThroughThreeHannBins)
{
    // A -1 dBFS tone with coherent components where the battery reads its
    // harmonics and products (even bins and odd, at odd phases) from -20 to
    // -130 dB: through Hann's three bins each reads what the plain
    // transform's bin alone read, to the float32 capture's noise (1e-8 of
    // full scale, 160 dB down), and its level to 0.01 dB (at -131 dBFS the
    // rounding's 2e-10 a bin is 0.006 dB).
    for (const double rate : {44100.0, 48000.0, 192000.0}) {
        const quality_plan p = quality_plan_make(rate, 1);
        const quality_segment& s = find(p, quality_kind::tone, -1.0);
        const int64_t k = s.tones[0].bin;
        // Three bins or more apart, so that each reads alone.
        const std::vector<std::pair<int64_t, double>> components = {
            {k, -1.0},       {2 * k, -21.0},  {3 * k, -61.0},  {7 * k, -101.0}, {10 * k, -131.0},
            {k + 41, -81.0}, {k - 82, -91.0}, {12294, -111.0}, {12301, -121.0},
        };
        const std::vector<float> c = segment_capture(s, [&](int64_t m) {
            double x = 0.0;
            for (size_t i = 0; i < components.size(); i++)
                x += std::pow(10.0, components[i].second / 20.0) * cosine(components[i].first, m, p.block, 0.9 * i);
            return x;
        });
        const distortion_block b =
            distortion_block_of(std::span<const float>(c).subspan(static_cast<size_t>(s.settle_frames)), p.block, rate);
        for (const auto& [bin, level] : components) {
            SCOPED_TRACE(testing::Message() << rate << " Hz, bin " << bin << " at " << level << " dBFS");
            EXPECT_NEAR(distortion_amplitude(b, bin), std::abs(distortion_phasor(b, bin)), 1e-8);
            EXPECT_NEAR(db(distortion_amplitude(b, bin)), level, 0.01);
        }
    }
}

TEST(QualityFigures, AMainsHarmonicBesideCcifsDifferenceProductStaysOutOfIt)
{
    // A hum harmonic of amplitude H, not coherent with the block, at each
    // multiple of 50 and 60 Hz within 60 Hz of CCIF's products, at four phases. At
    // 19 + 20 kHz and 48 kHz f2 - f1 was bin 682, 999.02 Hz, 0.67 bin from
    // 1000 Hz: the plain transform's bin took 41 % of it, and three Hann bins
    // would take 98 % (no window tells apart two tones closer than a bin or two).
    // The plan's pair puts f2 - f1 at 990 Hz: what the figure reads there is
    // under 1 % of H.
    const double h = 1e-3;  // -60 dBFS
    {
        const quality_plan p = quality_plan_make(48000.0, 1);
        for (int phase = 0; phase < 8; phase++) {
            std::vector<float> hum(static_cast<size_t>(p.block));
            for (int64_t m = 0; m < p.block; m++)
                hum[static_cast<size_t>(m)] =
                    static_cast<float>(h * std::cos(2.0 * pi * 1000.0 * static_cast<double>(m) / 48000.0 + phase));
            const distortion_block b = distortion_block_of(hum, p.block, 48000.0);
            const int64_t old_product = tones_bin(20000.0, 48000.0, p.block) - tones_bin(19000.0, 48000.0, p.block);
            ASSERT_EQ(old_product, 682);
            EXPECT_NEAR(std::abs(distortion_phasor(b, old_product)) / h, 0.41, 0.01) << "phase " << phase;
            EXPECT_NEAR(distortion_amplitude(b, old_product) / h, 0.98, 0.01) << "phase " << phase;
        }
    }
    for (const double rate : {44100.0, 48000.0, 96000.0, 192000.0}) {
        const quality_plan p = quality_plan_make(rate, 1);
        const quality_segment& s = find(p, quality_kind::ccif);
        const tone &t1 = s.tones[0], &t2 = s.tones[1];
        std::vector<double> hums;
        for (const int64_t product : {t2.bin - t1.bin, 2 * t1.bin - t2.bin})
            for (const double mains : {50.0, 60.0})
                for (double hz = mains * std::ceil((tones_hz(product, rate, p.block) - 60.0) / mains);
                     hz <= tones_hz(product, rate, p.block) + 60.0; hz += mains)
                    hums.push_back(hz);
        ASSERT_GE(hums.size(), 8u);
        // The captures computed once where they repeat (this case took 3.3 s
        // of CPU, most of it in cosines): the tones once a rate, the hum's
        // cosine and sine once a hum, each phase from them, cos(a + phase) =
        // cos a cos phase - sin a sin phase; and four phases a quarter turn
        // apart, not eight: a hum leaks into the product's three Hann bins by
        // its distance alone, whatever its phase (a factor common to every
        // bin), its image at minus its frequency aside.
        const int64_t first = -s.settle_frames, frames = s.settle_frames + s.analysed_frames;
        std::vector<double> tones(static_cast<size_t>(frames)), hum_cos(tones.size()), hum_sin(tones.size());
        for (int64_t i = 0; i < frames; i++)
            tones[static_cast<size_t>(i)] =
                t1.amplitude * cosine(t1.bin, first + i, p.block) + t2.amplitude * cosine(t2.bin, first + i, p.block);
        for (const double hum_hz : hums) {
            for (int64_t i = 0; i < frames; i++) {
                const double a = 2.0 * pi * hum_hz * static_cast<double>(first + i) / rate;
                hum_cos[static_cast<size_t>(i)] = h * std::cos(a), hum_sin[static_cast<size_t>(i)] = h * std::sin(a);
            }
            for (const double phase : {0.3, 0.3 + pi / 2.0, 0.3 + pi, 0.3 + 1.5 * pi}) {
                SCOPED_TRACE(testing::Message() << rate << " Hz, hum at " << hum_hz << " Hz, phase " << phase);
                const double cp = std::cos(phase), sp = std::sin(phase);
                const std::vector<float> c = segment_capture(s, [&](int64_t m) {
                    const auto i = static_cast<size_t>(m - first);
                    return tones[i] + hum_cos[i] * cp - hum_sin[i] * sp;
                });
                const quality_imd_figures f = quality_imd_measure(p, s, c);
                ASSERT_TRUE(f.valid) << f.reason;
                // The products' RSS as read, re H.
                EXPECT_LT(*f.pct / 100.0 * std::hypot(t1.amplitude, t2.amplitude) / h, 0.01);
            }
        }
    }
}

TEST(QualityFigures, OffBinRefusalAtWhatHannsResidueHoldsOfTheSpread)
{
    // A -1 dBFS tone d bins off its bin, beside a coherent residue r re the
    // tone (a tone elsewhere in the band). The residue read through Hann
    // holds the spread as c d, c = sqrt(pi^2/3 - 13/4) = 0.19967, and the
    // tone is refused where that passes for half the residue or more:
    // c d = sqrt(r^2 + (c d)^2) / 2, d = r / (sqrt(3) c). The plain
    // transform's constant, k = 1.1357, refused at k d = sqrt(r^2 + (c d)^2)
    // / 2, d = r / (2 sqrt(k^2 - c^2/4)): 16.3 dB lower.
    const double c = std::sqrt(pi * pi / 3.0 - 13.0 / 4.0), k = std::sqrt(2.0 * (pi * pi / 6.0 - 1.0));
    const quality_plan p = quality_plan_make(48000.0, 1);
    const quality_segment& s = find(p, quality_kind::tone, -1.0);
    const int64_t bin = s.tones[0].bin;
    const double a = s.tones[0].amplitude;
    for (const double residue_db : {-40.0, -60.0, -80.0}) {
        const double r = std::pow(10.0, residue_db / 20.0);
        const auto refused = [&](double d) {
            const quality_tone_figures f =
                quality_tone_measure(p, s, segment_capture(s, [&](int64_t m) {
                                         return a * std::cos(2.0 * pi * (bin + d) * m / static_cast<double>(p.block)) +
                                                a * r * cosine(5001, m, p.block);
                                     }));
            return !f.valid && f.reason.find("off its bin") != std::string::npos;
        };
        double below = 0.0, above = 0.1;
        ASSERT_FALSE(refused(below));
        ASSERT_TRUE(refused(above));
        for (int i = 0; i < 30; i++) {
            const double mid = 0.5 * (below + above);
            (refused(mid) ? above : below) = mid;
        }
        const double expected = r / (std::sqrt(3.0) * c), plain = r / (2.0 * std::sqrt(k * k - c * c / 4.0));
        SCOPED_TRACE(testing::Message() << "residue " << residue_db << " dB: refused from " << below << " bins");
        EXPECT_NEAR(below / expected, 1.0, 0.01);
        EXPECT_NEAR(db(below / plain), 16.32, 0.1);
    }
}

TEST(QualityPlan, EveryToneClearOfTheConvertersBandEdge)
{
    // The edge a converter's filter puts at 20 kHz at 44.1 kHz, 0.4535 of the
    // rate; every tone of every loop at least 1 kHz inside it and within the
    // band. CCIF's pair 990 Hz apart, f1 a whole kHz: 18 kHz at 44.1 kHz,
    // 19 kHz from 48 kHz up.
    struct row {
        double rate, f1;
    };
    const row rows[] = {{44100.0, 18000.0},  {48000.0, 19000.0},  {88200.0, 19000.0},  {96000.0, 19000.0},
                        {176400.0, 19000.0}, {192000.0, 19000.0}, {384000.0, 19000.0}, {768000.0, 19000.0}};
    for (const row& r : rows)
        for (const int loops : {1, 2, 8}) {
            SCOPED_TRACE(testing::Message() << r.rate << " Hz, " << loops << " loops");
            const quality_plan p = quality_plan_make(r.rate, loops);
            const double ceiling = std::min(20000.0, 20000.0 * r.rate / 44100.0 - 1000.0);
            for (const quality_segment& s : p.segments)
                for (int loop = 0; loop < loops; loop++)
                    for (const tone& t : quality_plan_tones(s, loop))
                        EXPECT_LE(tones_hz(t.bin, r.rate, p.block), ceiling)
                            << quality_plan_kind_name(s.kind) << " loop " << loop;
            const quality_segment& ccif = find(p, quality_kind::ccif);
            const double bin_hz = r.rate / static_cast<double>(p.block);
            const double f1 = tones_hz(ccif.tones[0].bin, r.rate, p.block),
                         f2 = tones_hz(ccif.tones[1].bin, r.rate, p.block);
            EXPECT_LE(std::fabs(f1 - r.f1), bin_hz);
            EXPECT_LE(std::fabs(f2 - f1 - 990.0), bin_hz);
            // Both products 6 bins or more from every harmonic of 50 and 60 Hz:
            // three Hann bins take under 0.4 % of a tone that far away.
            for (const double product : {f2 - f1, 2.0 * f1 - f2})
                for (const double mains : {50.0, 60.0}) {
                    const double nearest = mains * std::round(product / mains);
                    EXPECT_GE(std::fabs(product - nearest), 6.0 * bin_hz) << product << " Hz, " << mains << " Hz mains";
                }
        }
}

namespace {

// White noise of RMS sigma, one generator for the whole battery.
struct qt_noise {
    std::mt19937_64 generator;
    std::normal_distribution<double> normal;
    qt_noise(uint64_t seed, double sigma) : generator(seed), normal(0.0, sigma) {}
    double operator()() { return normal(generator); }
};

// A capture of the loop x + a2 x^2 + a3 x^3 plus noise, for every segment
// where every loop plays the same (tones, idle, SMPTE, CCIF); the other
// segments left empty.
std::vector<quality_segment_captures> qt_battery(const quality_plan& p, double a2, double a3, qt_noise& noise,
                                                 std::vector<std::vector<float>>& store)
{
    store.clear();
    store.reserve(p.segments.size());
    std::vector<quality_segment_captures> captures;
    for (const quality_segment& s : p.segments) {
        captures.emplace_back();
        if (!s.loop_tones.empty())
            continue;
        store.push_back(segment_capture(s, [&](int64_t m) {
            double x = 0.0;
            for (const tone& t : s.tones)
                x += t.amplitude * cosine(t.bin, m, p.block);
            return x + a2 * x * x + a3 * x * x * x + noise();
        }));
        captures.back().push_back(store.back());
    }
    return captures;
}

}  // namespace

TEST(QualityFigures, BelowTheNoiseAFigureIsABound)
{
    // docs/loopcheck.md's example loop: x + 0.000224 x^2 + 0.0001 x^3 and white
    // noise of RMS 1e-5.5 (loopsim --noise -110). At -1 dBFS H2 = a2 A / 2 is
    // -80.02 dB and H3 = a3 A^2 / 4 -94.05 dB: measurements; H4 ... H10 are
    // nothing but the noise of their three bins, 12 sigma^2 / n (-144.4 dBFS),
    // and are bounds, each "< floor + 10 dB". At -60 dBFS H2 is -139 dB:
    // every harmonic and THD are bounds, THD noise-limited (it read -74.9 dB,
    // 64 dB of noise given as distortion). Each bound lies above its truth;
    // each floor within the local median's scatter (64 bins) of the closed form; THD+N's
    // floor the idle noise re the tone, within 0.3 dB of THD+N where the noise
    // is all of it.
    const double a2 = 0.000224, a3 = 0.0001, sigma = std::pow(10.0, -110.0 / 20.0);
    for (const double rate : {44100.0, 48000.0, 96000.0}) {
        SCOPED_TRACE(testing::Message() << rate << " Hz");
        const quality_plan p = quality_plan_make(rate, 1);
        qt_noise noise(20261210, sigma);
        std::vector<std::vector<float>> store;
        const std::vector<quality_loop_figures> loops = quality_analyse(p, qt_battery(p, a2, a3, noise, store));
        const double three = 10.0 * std::log10(12.0 * sigma * sigma / static_cast<double>(p.block));
        for (const quality_tone_figures& t : loops[0].tones) {
            const double level = t.conditions.level_dbfs, a = std::pow(10.0, level / 20.0);
            SCOPED_TRACE(testing::Message() << level << " dBFS");
            ASSERT_TRUE(t.valid) << t.reason;
            const double h2 = db(a2 * a / 2.0), h3 = db(a3 * a * a / 4.0);
            for (size_t k = 0; k < 9; k++) {
                if (!t.harmonics_db[k])
                    continue;
                const quality_floor& f = t.harmonics_floor[k];
                SCOPED_TRACE(testing::Message() << "H" << k + 2);
                EXPECT_NEAR(*f.db, three - level, 2.5);
                const double truth = k == 0 ? h2 : k == 1 ? h3 : -400.0;
                if (truth > three - level + 20.0) {
                    EXPECT_FALSE(f.bound);
                    // Within what the noise of its bins can add or take.
                    EXPECT_NEAR(*t.harmonics_db[k], truth,
                                0.02 + db(1.0 + 1.5 * std::pow(10.0, (*f.db - truth) / 20.0)));
                } else {
                    EXPECT_TRUE(f.bound);
                    EXPECT_NEAR(*t.harmonics_db[k], *f.db + 10.0, 1e-9);
                    EXPECT_GT(*t.harmonics_db[k], truth);
                }
            }
            if (level == -1.0) {
                EXPECT_NEAR(*t.harmonics_db[0], -80.02, 0.05);
                EXPECT_FALSE(t.thd_floor.bound);
                EXPECT_FALSE(t.thd_floor.noise_limited);
                EXPECT_NEAR(*t.thd_db, db(std::hypot(a2 * a / 2.0, a3 * a * a / 4.0)), 0.05);
            }
            if (level == -60.0) {
                EXPECT_TRUE(t.thd_floor.bound);
                EXPECT_TRUE(t.thd_floor.noise_limited);
                EXPECT_GT(*t.thd_db, h2);
                EXPECT_TRUE(t.thd_n_floor.noise_limited);
            }
            ASSERT_TRUE(t.thd_n_floor.db.has_value());
            EXPECT_NEAR(*t.thd_n_floor.db, *loops[0].noise.noise_dbfs - level, 0.01);
            // At -60 dBFS THD+N is the noise.
            if (level == -60.0) {
                EXPECT_NEAR(*t.thd_n_db, *t.thd_n_floor.db, 0.3);
            }
        }
        EXPECT_EQ(*loops[0].noise.floor_dbfs, tones_floor_dbfs);
    }
}

TEST(QualityFigures, NoiseAloneReadsAsBoundsOnly)
{
    // A tone in noise and no distortion at all: of 9 harmonics at 3 levels
    // over 4 rates, two noise draws and two spectra, none is given as a
    // measurement (three bins of noise reach 10 times their mean about once
    // in 20 000 readings), and THD is a bound every time. The spectra: white,
    // and white plus itself through one pole at 200 Hz 30 times over (the
    // noise falling 6 dB an octave from 29.5 dB above the white to it, over
    // the harmonics): each harmonic's floor its own.
    int harmonics = 0;
    for (const double rate : {44100.0, 48000.0, 96000.0, 192000.0})
        for (const bool shaped : {false, true})
            for (const uint64_t seed : {1u, 2u}) {
                SCOPED_TRACE(testing::Message() << rate << " Hz, seed " << seed << (shaped ? ", shaped" : ""));
                const quality_plan p = quality_plan_make(rate, 1);
                qt_noise white(seed, std::pow(10.0, -100.0 / 20.0));
                const double pole = std::exp(-2.0 * pi * 200.0 / rate);
                double low = 0.0;
                const auto noise = [&] {
                    const double w = white();
                    low = pole * low + (1.0 - pole) * w;
                    return shaped ? w + 30.0 * low : w;
                };
                std::vector<std::vector<float>> store;
                std::vector<quality_segment_captures> captures;
                for (const quality_segment& s : p.segments) {
                    captures.emplace_back();
                    if (s.kind != quality_kind::tone)
                        continue;
                    store.push_back(segment_capture(s, [&](int64_t m) {
                        return s.tones[0].amplitude * cosine(s.tones[0].bin, m, p.block) + noise();
                    }));
                    captures.back().push_back(store.back());
                }
                const std::vector<quality_loop_figures> loops = quality_analyse(p, captures);
                for (const quality_tone_figures& t : loops[0].tones) {
                    SCOPED_TRACE(testing::Message() << t.conditions.level_dbfs << " dBFS");
                    ASSERT_TRUE(t.valid) << t.reason;
                    EXPECT_TRUE(t.thd_floor.bound);
                    EXPECT_TRUE(t.thd_floor.noise_limited);
                    for (size_t k = 0; k < 9; k++)
                        if (t.harmonics_db[k]) {
                            harmonics++;
                            EXPECT_TRUE(t.harmonics_floor[k].bound) << "H" << k + 2;
                        }
                }
            }
    // H2 ... H10 of 997 Hz all lie within 20 kHz.
    EXPECT_EQ(harmonics, 4 * 2 * 2 * 3 * 9);
}

TEST(QualityFigures, OffBinSpreadTakenOutOfThdN)
{
    // A -1 dBFS tone d bins off its bin (a resampler between the clocks) over
    // white noise of RMS r re the tone. What the tone spreads beyond the
    // notch, 0.19967 d of it, read as THD+N up to 1.25 dB high at the
    // refusal's edge; taken out, THD+N reads what the same noise reads
    // beside the tone on its bin, within the noise's own cross term with
    // the spread, and the spread taken out is given; A-weighted alike.
    const double c = std::sqrt(pi * pi / 3.0 - 13.0 / 4.0);
    struct row {
        double rate, noise_db, fraction;  // the offset as a fraction of the refusal's, r / (sqrt 3 c), r in the band
    };
    const row rows[] = {{48000.0, -60.0, 0.5},
                        {48000.0, -60.0, 0.9},
                        {44100.0, -80.0, 0.9},
                        {96000.0, -40.0, 0.7},
                        {192000.0, -100.0, 0.8}};
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.rate << " Hz, noise " << r.noise_db << " dB, " << r.fraction);
        const quality_plan p = quality_plan_make(r.rate, 1);
        const quality_segment& s = find(p, quality_kind::tone, -1.0);
        const double a = s.tones[0].amplitude, ratio = std::pow(10.0, r.noise_db / 20.0);
        // THD+N's residue: the band's share of the noise.
        const double band = ratio * std::sqrt((weighting_band_high_hz - weighting_band_low_hz) / (r.rate / 2.0));
        const double d = r.fraction * band / (std::sqrt(3.0) * c);
        qt_noise noise(99, a / std::numbers::sqrt2 * ratio);
        std::vector<double> n(static_cast<size_t>(s.settle_frames + s.analysed_frames));
        for (double& v : n)
            v = noise();
        const auto measure = [&](double offset) {
            return quality_tone_measure(p, s, segment_capture(s, [&](int64_t m) {
                                            return a * std::cos(2.0 * pi *
                                                                (static_cast<double>(s.tones[0].bin) + offset) *
                                                                static_cast<double>(m) / static_cast<double>(p.block)) +
                                                   n[static_cast<size_t>(m + s.settle_frames)];
                                        }));
        };
        const quality_tone_figures on = measure(0.0), off = measure(d);
        ASSERT_TRUE(on.valid && off.valid) << on.reason << " | " << off.reason;
        EXPECT_NEAR(*off.thd_n_db, *on.thd_n_db, 0.03);
        EXPECT_NEAR(*off.thd_n_a_db, *on.thd_n_a_db, 0.05);
        ASSERT_TRUE(off.offbin_spread_db.has_value());
        EXPECT_NEAR(*off.offbin_spread_db, db(c * d), 0.05);
        // Left in, the spread would have read r sqrt(1 + (c d / r)^2).
        EXPECT_GT(db(std::hypot(std::pow(10.0, *on.thd_n_db / 20.0), c * d)) - *off.thd_n_db,
                  0.9 * db(std::hypot(1.0, c * d / band)));
    }
}
