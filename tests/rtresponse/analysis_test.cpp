// The analysis of one refresh: snapshot -> forward FFT -> levels in dB.
#include <cmath>
#include <numbers>

#include "analyser_fixture.hpp"

namespace {

class AnalysisTest : public AnalyserTest {
protected:
    void SetUp() override
    {
        AnalyserTest::SetUp();
        fft_2048(spectrum_re, spectrum_im, -1, 1);
        // What a previous refresh may have left in the work arrays must not count.
        for (int64_t i = 0; i < 2048; i++) {
            spectrum_re[i] = 123.0f;
            spectrum_im[i] = -45.0f;
        }
    }
};

TEST_F(AnalysisTest, SilenceReadsMinus190DbInEveryBin)
{
    response_analysis();
    for (int64_t k = 0; k < 1024; k++)
        ASSERT_EQ(spectrum_re[k], -190.0f) << "bin " << k;
}

// An impulse of 0.5 has power 0.25 in every bin: -6.0206 dB, the same float everywhere.
TEST_F(AnalysisTest, ImpulseGivesTheSameLevelInEveryBin)
{
    display_snapshot[0] = 0.5f;
    response_analysis();
    for (int64_t k = 0; k < 1024; k++)
        ASSERT_EQ(spectrum_re[k], spectrum_re[0]) << "bin " << k;
    EXPECT_NEAR(spectrum_re[0], 20.0 * std::log10(0.5), 1e-6);
}

// A unit cosine at bin 100 (2343.75 Hz) reads 20 log10(1024) = 60.21 dB there; the
// other bins hold only rounding noise far below. Bins 1024 .. 2047 are not levels.
TEST_F(AnalysisTest, CosineLandsInItsBin)
{
    for (int64_t n = 0; n < 2048; n++)
        display_snapshot[n] =
            static_cast<float>(std::cos(2.0 * std::numbers::pi * 100.0 * static_cast<double>(n) / 2048.0));
    response_analysis();
    EXPECT_NEAR(spectrum_re[100], 20.0 * std::log10(1024.0), 1e-3);
    for (int64_t k = 0; k < 1024; k++)
        if (k != 100) {
            ASSERT_LT(spectrum_re[k], -40.0f) << "bin " << k;
        }
    EXPECT_EQ(display_snapshot[2048], 0.0f);
}

}  // namespace
