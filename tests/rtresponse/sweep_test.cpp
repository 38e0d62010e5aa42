// The periodic sweep: flat spectrum, level, peaks, and its construction.
#include <cmath>
#include <numbers>
#include <vector>

#include "analyser_fixture.hpp"

namespace {

using SweepTest = AnalyserTest;

// The unit-magnitude quadratic-phase spectrum, built here from its definition:
// phase -6.2831852 m^2 / 2048 rounded to float, cos and sin in double of it.
void reference_spectrum(std::vector<double>& re, std::vector<double>& im, double two_pi)
{
    re.assign(2048, 0.0);
    im.assign(2048, 0.0);
    for (int64_t m = 0; m <= 1024; m++) {
        const float phase = static_cast<float>(static_cast<double>(m * m) * -two_pi / 2048.0);
        re[m] = static_cast<float>(std::cos(static_cast<double>(phase)));
        im[m] = static_cast<float>(std::sin(static_cast<double>(phase)));
    }
    re[1024] = 1.0;
    im[1024] = 0.0;
    for (int64_t m = 1; m <= 1023; m++) {
        re[2048 - m] = re[m];
        im[2048 - m] = -im[m];
    }
}

// Real part of the inverse DFT at sample n, in long double, with exact twiddles.
double inverse_dft(const std::vector<double>& re, const std::vector<double>& im, int64_t n)
{
    long double sum = 0.0L;
    for (int64_t k = 0; k < 2048; k++) {
        const long double angle = 2.0L * std::numbers::pi_v<long double> * ((k * n) % 2048) / 2048.0L;
        sum += re[k] * std::cos(angle) - im[k] * std::sin(angle);
    }
    return static_cast<double>(sum / 2048.0L);
}

TEST_F(SweepTest, EveryBinOfItsTransformHasMagnitude30_4)
{
    build_tables();
    std::vector<float> re(2049, 0.0f), im(2049, 0.0f);
    for (int64_t n = 0; n < 2048; n++)
        re[n] = rtresponse::sweep_table[n];
    fft_2048(re.data(), im.data(), -1, 0);
    // Float rounding of the table and of both transforms: measured below 1.2e-5,
    // i.e. a few float steps at 30.4 (one step is 1.9e-6).
    for (int64_t k = 0; k < 2048; k++)
        EXPECT_NEAR(std::hypot(static_cast<double>(re[k]), static_cast<double>(im[k])), 30.4, 4e-5) << "bin " << k;
}

TEST_F(SweepTest, LevelAndPeaksLeaveHeadroom)
{
    build_tables();
    double squares = 0.0, peak = 0.0;
    for (int64_t n = 0; n < 2048; n++) {
        const double x = rtresponse::sweep_table[n];
        squares += x * x;
        peak = std::max(peak, std::fabs(x));
    }
    EXPECT_NEAR(std::sqrt(squares / 2048.0), 30.4 / std::sqrt(2048.0), 1e-5);  // 0.6718
    EXPECT_LE(peak, 0.98);
    EXPECT_GE(peak, 0.95);
    EXPECT_EQ(rtresponse::sweep_table[2048], 0.0f);  // the spare element is never written
}

// Against a direct long-double inverse DFT of the same spectrum, rounded the same
// way: the library's float FFT cannot match an exact sum bit for bit (about a
// quarter of the samples do), but it stays within a few float steps of 1.0. A
// sweep built with the full-precision 2 pi instead differs by about 1e-4, so the
// shortened constant is seen here.
TEST_F(SweepTest, MatchesDirectInverseDftWithinFloatRounding)
{
    build_tables();
    std::vector<double> re, im;
    reference_spectrum(re, im, 6.2831852);
    for (int64_t n : {0, 1, 2, 511, 1000, 1024, 1500, 2047}) {
        const float expected = static_cast<float>(inverse_dft(re, im, n) * 32.0 * 0.95);
        EXPECT_NEAR(rtresponse::sweep_table[n], expected, 5e-7) << "sample " << n;
    }
    std::vector<double> re_full, im_full;
    reference_spectrum(re_full, im_full, 6.283185307179586);
    double largest = 0.0;
    for (int64_t n = 0; n < 2048; n += 7)
        largest = std::max(largest, std::fabs(static_cast<double>(rtresponse::sweep_table[n]) -
                                              inverse_dft(re_full, im_full, n) * 32.0 * 0.95));
    EXPECT_GT(largest, 2e-5);
}

// Bit for bit: the spectrum rebuilt here from its definition, put through the
// same inverse FFT and scaled in double, gives exactly the table, so the phase
// rounding, the mirror and the double-precision scaling are exactly as defined.
TEST_F(SweepTest, EqualsTheRebuiltSpectrumThroughTheInverseFftToTheBit)
{
    build_tables();
    std::vector<double> re, im;
    reference_spectrum(re, im, 6.2831852);
    std::vector<float> fre(2049, 0.0f), fim(2049, 0.0f);
    for (int64_t k = 0; k < 2048; k++) {
        fre[k] = static_cast<float>(re[k]);
        fim[k] = static_cast<float>(im[k]);
    }
    fft_2048(fre.data(), fim.data(), 1, 0);
    int64_t mismatches = 0;
    for (int64_t n = 0; n < 2048; n++) {
        const float expected = static_cast<float>(static_cast<double>(fre[n]) * 32.0 * 0.95);
        mismatches += rtresponse::sweep_table[n] != expected;
    }
    EXPECT_EQ(mismatches, 0);
    // The work arrays keep the transformed spectrum; element 2048 stays untouched.
    EXPECT_EQ(spectrum_re[2048], 0.0f);
    EXPECT_EQ(spectrum_im[2048], 0.0f);
}

// A linear sweep: around sample n the frequency is n / 2 bins, so a short window
// around n = 1024 (bin 512, 12 kHz) crosses zero about every second sample, and
// the start of the period hardly at all.
TEST_F(SweepTest, FrequencyRisesLinearlyOverThePeriod)
{
    build_tables();
    auto crossings = [](int64_t from, int64_t to) {
        int64_t count = 0;
        for (int64_t n = from; n < to; n++)
            count += (rtresponse::sweep_table[n] < 0.0f) != (rtresponse::sweep_table[n + 1] < 0.0f);
        return count;
    };
    EXPECT_LE(crossings(1, 60), 2);            // below ~350 Hz
    EXPECT_NEAR(crossings(984, 1064), 40, 3);  // 12 kHz: one crossing per two samples
}

}  // namespace
