// The software-loopback filters: delay2 and the z^-2 high-pass biquad.
#include "dsp/filters.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

#include "common/same_bits.hpp"

namespace {

constexpr double k1 = 0.9963044429897594;
constexpr double k2 = 1.9925952288437763;
constexpr double k3 = 0.9926225431269651;
constexpr double sample_rate = 48000.0;

// Every case starts from the zero load-time state.
class Loopback : public ::testing::Test {
protected:
    void SetUp() override { loopback_filters_reset(); }
    void TearDown() override { loopback_filters_reset(); }
};

// Analytic magnitude of k1 (1 - 2 z^-2 + z^-4) / (1 - k2 z^-2 + k3 z^-4) in dB.
double analytic_db(double hz)
{
    const std::complex<double> z2 = std::polar(1.0, -4.0 * std::numbers::pi * hz / sample_rate);
    const std::complex<double> z4 = z2 * z2;
    const std::complex<double> h = k1 * (1.0 - 2.0 * z2 + z4) / (1.0 - k2 * z2 + k3 * z4);
    return 20.0 * std::log10(std::abs(h));
}

// Drives the biquad with a unit sine, lets the transient die away, and measures
// the output amplitude by correlation over whole periods. Returns dB.
double measured_db(double hz, int64_t settle, int64_t measure)
{
    loopback_filters_reset();
    const double w = 2.0 * std::numbers::pi * hz / sample_rate;
    double sum_sin = 0.0;
    double sum_cos = 0.0;
    for (int64_t t = 0; t < settle + measure; ++t) {
        const double phase = w * static_cast<double>(t);
        const float y = highpass_biquad(static_cast<float>(std::sin(phase)));
        if (t >= settle) {
            sum_sin += y * std::sin(phase);
            sum_cos += y * std::cos(phase);
        }
    }
    const double amplitude = 2.0 / static_cast<double>(measure) * std::hypot(sum_sin, sum_cos);
    return 20.0 * std::log10(amplitude);
}

TEST_F(Loopback, Delay2ReturnsTheInputOfTwoCallsEarlier)
{
    EXPECT_EQ(delay2(1.0f), 0.0f);
    EXPECT_EQ(delay2(2.0f), 0.0f);
    EXPECT_EQ(delay2(3.0f), 1.0f);
    EXPECT_EQ(delay2(4.0f), 2.0f);
    EXPECT_EQ(delay2(0.0f), 3.0f);
    EXPECT_EQ(delay2(0.0f), 4.0f);
}

TEST_F(Loopback, ImpulseResponse)
{
    // Hex values computed once with an outside script that runs the same double
    // recursion and rounds each output to float: 0.99630445, -0.0073773875, -0.0073499633.
    const float want_even[] = {0x1.fe1b9ep-1f, -0x1.e37c06p-8f, -0x1.e1afecp-8f};
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(same_bits(highpass_biquad(i == 0 ? 1.0f : 0.0f), want_even[i])) << "output " << 2 * i;
        EXPECT_TRUE(same_bits(highpass_biquad(0.0f), 0.0f)) << "output " << 2 * i + 1;
    }
    EXPECT_NEAR(0x1.fe1b9ep-1f, 0.99630445f, 1e-8);
    EXPECT_NEAR(-0x1.e37c06p-8f, -0.0073773875f, 1e-10);
    EXPECT_NEAR(-0x1.e1afecp-8f, -0.0073499633f, 1e-10);
    for (int t = 6; t < 4000; ++t) {
        const float y = highpass_biquad(0.0f);
        if (t % 2 == 1) {
            ASSERT_EQ(y, 0.0f) << "odd output " << t;
        }
    }
}

TEST_F(Loopback, StepResponseComesInEqualPairsAndDecaysToZero)
{
    const float first = highpass_biquad(1.0f);
    EXPECT_EQ(first, 0x1.fe1b9ep-1f);
    EXPECT_EQ(highpass_biquad(1.0f), first);
    const float third = highpass_biquad(1.0f);
    EXPECT_NEAR(third, 0.98892707f, 1e-7);
    EXPECT_EQ(highpass_biquad(1.0f), third);
    float y = 0.0f;
    for (int pair = 2; pair < 24000; ++pair) {
        const float a = highpass_biquad(1.0f);
        y = highpass_biquad(1.0f);
        ASSERT_EQ(a, y) << "pair " << pair;
    }
    EXPECT_LT(std::fabs(y), 1e-6) << "zero at 0 Hz";
}

TEST_F(Loopback, AlternatingInputDecaysToZero)
{
    float y = 1.0f;
    for (int t = 0; t < 48000; ++t)
        y = highpass_biquad(t % 2 == 0 ? 1.0f : -1.0f);
    EXPECT_LT(std::fabs(y), 1e-6) << "zero at 24000 Hz";
}

TEST_F(Loopback, BitExactAgainstTimeIndexedRecursion)
{
    // Reference keeps whole input and output sequences indexed by time rather than
    // shift registers, with the same double evaluation order and one float rounding.
    constexpr int64_t length = 20000;
    std::vector<float> x(length), y(length);
    uint32_t s = 2024u;
    for (int64_t t = 0; t < length; ++t) {
        s = s * 1664525u + 1013904223u;
        x[t] = static_cast<float>(static_cast<double>(s) / 2147483648.0 - 1.0);
    }
    auto at = [](const std::vector<float>& v, int64_t t) { return t >= 0 ? static_cast<double>(v[t]) : 0.0; };
    for (int64_t t = 0; t < length; ++t) {
        double acc = at(x, t) - 2.0 * at(x, t - 2);
        acc = acc + at(x, t - 4);
        acc = acc * k1;
        acc = acc + k2 * at(y, t - 2);
        acc = acc - k3 * at(y, t - 4);
        y[t] = static_cast<float>(acc);
    }
    for (int64_t t = 0; t < length; ++t) {
        const float got = highpass_biquad(x[t]);
        ASSERT_TRUE(same_bits(got, y[t])) << "t=" << t << " got " << got << " want " << y[t];
    }
}

TEST_F(Loopback, ResetClearsBothFilters)
{
    for (int t = 0; t < 10; ++t)
        highpass_biquad(delay2(static_cast<float>(t + 1)));
    loopback_filters_reset();
    EXPECT_EQ(delay2(5.0f), 0.0f);
    EXPECT_EQ(delay2(6.0f), 0.0f);
    EXPECT_EQ(highpass_biquad(1.0f), 0x1.fe1b9ep-1f);
    EXPECT_EQ(highpass_biquad(0.0f), 0.0f);
    EXPECT_EQ(highpass_biquad(0.0f), -0x1.e37c06p-8f);
}

TEST_F(Loopback, LoopbackPathIsTheBiquadDelayedByTwo)
{
    std::vector<float> direct;
    for (int t = 0; t < 50; ++t)
        direct.push_back(highpass_biquad(t == 0 ? 1.0f : 0.0f));
    loopback_filters_reset();
    for (int t = 0; t < 52; ++t) {
        const float y = highpass_biquad(delay2(t == 0 ? 1.0f : 0.0f));
        ASSERT_EQ(y, t < 2 ? 0.0f : direct[static_cast<size_t>(t - 2)]) << t;
    }
}

TEST(LoopbackResponse, AnalyticShape)
{
    // The design: zeros at 0 and 24000 Hz, -3 dB at 20 Hz and 23980 Hz, flat within
    // 0.01 dB from 100 Hz to 23900 Hz.
    EXPECT_LT(analytic_db(0.01), -100.0);
    EXPECT_LT(analytic_db(23999.99), -100.0);
    EXPECT_NEAR(analytic_db(20.0), -3.01, 0.02);
    EXPECT_NEAR(analytic_db(23980.0), -3.01, 0.02);
    for (double hz = 100.0; hz <= 23900.0; hz += 10.0) {
        ASSERT_LT(std::fabs(analytic_db(hz)), 0.01) << hz << " Hz";
    }
}

TEST_F(Loopback, MeasuredMagnitudeMatchesAnalytic)
{
    // Frequencies chosen so the measurement spans whole periods. The transient decays
    // with a time constant of roughly 540 samples; 20000 samples of settling leave
    // it far below float resolution.
    struct Point {
        double hz;
        int64_t measure;
    };
    const Point points[] = {{20.0, 9600},    {40.0, 9600},    {100.0, 9600},  {1000.0, 9600},
                            {12000.0, 9600}, {23900.0, 9600}, {23980.0, 9600}};
    for (const Point& p : points) {
        const double got = measured_db(p.hz, 20000, p.measure);
        EXPECT_NEAR(got, analytic_db(p.hz), 0.002) << p.hz << " Hz";
    }
    EXPECT_NEAR(measured_db(20.0, 20000, 9600), -3.01, 0.02);
    EXPECT_NEAR(measured_db(100.0, 20000, 9600), 0.0, 0.01);
    EXPECT_NEAR(measured_db(23900.0, 20000, 9600), 0.0, 0.01);
}

}  // namespace
