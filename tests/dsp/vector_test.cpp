// CBLAS wrappers, the doubled delay line and the lag correlation.
#include "dsp/vector.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// Distinct, exactly representable sample values (small integers), so that dot
// products with 0/1 coefficients are exact whatever order BLAS sums in.
float sample_value(int64_t t) { return static_cast<float>(t + 1); }

TEST(VectorWrappers, MaxIndexCountsFromZeroAndTakesFirstOfLargestMagnitude)
{
    const float x[] = {1.0f, -5.0f, 3.0f, 5.0f, -2.0f};
    EXPECT_EQ(vec_max_index(5, x), 1);
    EXPECT_EQ(vec_max_index(1, x), 0);
    const float y[] = {0.5f, 0.25f, -7.0f};
    EXPECT_EQ(vec_max_index(3, y), 2);
}

TEST(VectorWrappers, ScaleTouchesOnlyTheFirstNElements)
{
    float x[] = {1.0f, -2.0f, 3.0f, 4.0f};
    vec_scale(3, -0.5f, x);
    EXPECT_EQ(x[0], -0.5f);
    EXPECT_EQ(x[1], 1.0f);
    EXPECT_EQ(x[2], -1.5f);
    EXPECT_EQ(x[3], 4.0f);
}

TEST(VectorWrappers, AbsSumAndNorm)
{
    const float x[] = {3.0f, -4.0f, 100.0f};
    EXPECT_EQ(vec_abs_sum(2, x), 7.0f);
    EXPECT_EQ(vec_norm(2, x), 5.0f);
    EXPECT_EQ(vec_abs_sum(3, x), 107.0f);
}

TEST(VectorWrappers, CopyGoesFromFirstArrayToSecond)
{
    const float x[] = {1.0f, 2.0f, 3.0f};
    std::vector<float> y = {9.0f, 9.0f, 9.0f, 9.0f};
    vec_copy(3, x, y.data());
    EXPECT_EQ(y, (std::vector<float>{1.0f, 2.0f, 3.0f, 9.0f}));
}

TEST(VectorWrappers, AxpyAddsScaledXIntoY)
{
    const float x[] = {1.0f, 2.0f, 3.0f};
    std::vector<float> y = {10.0f, 20.0f, 30.0f};
    vec_axpy(3, 2.0f, x, y.data());
    EXPECT_EQ(y, (std::vector<float>{12.0f, 24.0f, 36.0f}));
    EXPECT_EQ(x[0], 1.0f);
}

TEST(VectorWrappers, Dot)
{
    const float x[] = {1.0f, 2.0f, 3.0f, 1000.0f};
    const float y[] = {4.0f, -5.0f, 6.0f, 1000.0f};
    EXPECT_EQ(vec_dot(3, x, y), 12.0f);
}

TEST(VectorWrappers, ThreadQueriesAndSetterRoundTrip)
{
    EXPECT_GE(blas_num_procs(), 1);
    const int64_t threads = blas_num_threads();
    ASSERT_GE(threads, 1);
    blas_set_threads(1);
    EXPECT_EQ(blas_num_threads(), 1);
    blas_set_threads(threads);  // leave OpenBLAS at the count it started with
    EXPECT_EQ(blas_num_threads(), threads);
}

// The delay-line cases run at the two lengths the programs use and at a small one.
class DelayLine : public ::testing::TestWithParam<int64_t> {};

TEST_P(DelayLine, StaysMirroredAndPositionCyclesThroughAllSlots)
{
    const int64_t n = GetParam();
    const float spare = -12345.0f;
    std::vector<float> d(2 * n + 1, 0.0f);
    d[2 * n] = spare;
    std::vector<float> c(n, 0.0f);
    int64_t p = 0;
    for (int64_t t = 0; t < 2 * n + 3; ++t) {
        const int64_t before = p;
        delay_line_dot(sample_value(t), d.data(), c.data(), n, p);
        ASSERT_EQ(d[before], sample_value(t)) << "t=" << t;
        ASSERT_EQ(d[before + n], sample_value(t)) << "t=" << t;
        ASSERT_EQ(p, before == 0 ? n - 1 : before - 1) << "t=" << t;
        for (int64_t i = 0; i < n; ++i) {
            ASSERT_EQ(d[i], d[i + n]) << "t=" << t << " i=" << i;
        }
        if (t == n - 1) {
            EXPECT_EQ(p, 0) << "p must be back at 0 after n calls";
        }
    }
    EXPECT_EQ(d[2 * n], spare) << "the spare element must never be written";
}

TEST_P(DelayLine, FirstCallsWriteAtZeroAndNThenAtNMinusOne)
{
    const int64_t n = GetParam();
    std::vector<float> d(2 * n + 1, 0.0f);
    std::vector<float> c(n, 0.0f);
    int64_t p = 0;
    delay_line_dot(7.0f, d.data(), c.data(), n, p);
    EXPECT_EQ(d[0], 7.0f);
    EXPECT_EQ(d[n], 7.0f);
    EXPECT_EQ(p, n - 1);
    delay_line_dot(8.0f, d.data(), c.data(), n, p);
    EXPECT_EQ(d[n - 1], 8.0f);
    EXPECT_EQ(d[2 * n - 1], 8.0f);
    EXPECT_EQ(p, n - 2);
    EXPECT_EQ(d[0], 7.0f);
}

TEST_P(DelayLine, SingleCoefficientAtLagJReturnsTheSamplePushedJCallsEarlier)
{
    const int64_t n = GetParam();
    for (const int64_t j : {int64_t{0}, int64_t{1}, int64_t{2}, n / 2, n - 1}) {
        std::vector<float> d(2 * n + 1, 0.0f);
        std::vector<float> c(n, 0.0f);
        c[j] = 1.0f;
        int64_t p = 0;
        for (int64_t t = 0; t < 2 * n + 5; ++t) {
            const float s = delay_line_dot(sample_value(t), d.data(), c.data(), n, p);
            const float expected = t >= j ? sample_value(t - j) : 0.0f;
            ASSERT_EQ(s, expected) << "j=" << j << " t=" << t;
        }
    }
}

TEST_P(DelayLine, RingAxpyAfterTheDotReadsTheWindowTheDotUsed)
{
    const int64_t n = GetParam();
    std::vector<float> d(2 * n + 1, 0.0f);
    std::vector<float> c(n, 0.0f);
    std::vector<float> y(n + 1, 0.0f);
    std::vector<float> pushed;  // every sample so far, oldest first
    int64_t p = 0;
    int64_t q = 0;
    for (int64_t t = 0; t < 2 * n + 3; ++t) {
        pushed.push_back(sample_value(t));
        delay_line_dot(pushed.back(), d.data(), c.data(), n, p);
        std::fill(y.begin(), y.end(), 0.0f);
        y[n] = -1.0f;
        const int64_t q_before = q;
        ring_axpy(y.data(), 1.0f, d.data(), n, q);
        EXPECT_EQ(q, p) << "t=" << t;
        EXPECT_EQ(q, q_before == 0 ? n - 1 : q_before - 1);
        // y[k] must be the sample k steps old: the newest n samples, newest first.
        for (int64_t k = 0; k < n; ++k) {
            const float expected = k <= t ? pushed[static_cast<size_t>(t - k)] : 0.0f;
            ASSERT_EQ(y[k], expected) << "t=" << t << " k=" << k;
        }
        ASSERT_EQ(y[n], -1.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, DelayLine, ::testing::Values(int64_t{5}, int64_t{2000}, int64_t{2048}));

TEST(DelayLineTogether, DotAndRingAxpyIdentifyAKnownFir)
{
    // Plain LMS identification of a sparse FIR: converges only if the update reads
    // the very window that produced the prediction.
    constexpr int64_t n = 32;
    std::vector<float> d(2 * n + 1, 0.0f);
    std::vector<float> w(n, 0.0f);
    std::vector<float> x_hist;  // the input sequence fed so far
    int64_t p = 0;
    int64_t q = 0;
    uint32_t lcg = 12345u;
    for (int t = 0; t < 20000; ++t) {
        lcg = lcg * 1664525u + 1013904223u;
        const float x = static_cast<float>(static_cast<double>(lcg) / 4294967296.0 - 0.5);
        x_hist.push_back(x);
        const float x3 = t >= 3 ? x_hist[static_cast<size_t>(t - 3)] : 0.0f;
        const float x7 = t >= 7 ? x_hist[static_cast<size_t>(t - 7)] : 0.0f;
        const float target = 0.5f * x3 - 0.25f * x7;
        const float y = delay_line_dot(x, d.data(), w.data(), n, p);
        const float step = 0.05f * (target - y);
        ring_axpy(w.data(), step, d.data(), n, q);
    }
    for (int64_t k = 0; k < n; ++k) {
        const float expected = k == 3 ? 0.5f : (k == 7 ? -0.25f : 0.0f);
        EXPECT_NEAR(w[k], expected, 1e-4) << "k=" << k;
    }
}

TEST(CorrelateLags, LagZeroIsThePlainDotProduct)
{
    const int64_t n = 37;
    std::vector<float> x(n), y(n);
    for (int64_t k = 0; k < n; ++k) {
        x[k] = static_cast<float>(k % 7) - 3.0f;
        y[k] = static_cast<float>((5 * k) % 11) - 5.0f;
    }
    float r[2] = {0.0f, -99.0f};
    correlate_lags(x.data(), y.data(), r, n, 0);
    EXPECT_EQ(r[0], vec_dot(n, x.data(), y.data()));
    EXPECT_EQ(r[1], -99.0f) << "only r[0 .. m] may be written";
}

TEST(CorrelateLags, EveryLagMatchesTheDirectSum)
{
    // Small integers keep every partial sum exact, so equality is safe.
    const int64_t n = 50;
    const int64_t m = 20;
    std::vector<float> x(n), y(n);
    for (int64_t k = 0; k < n; ++k) {
        x[k] = static_cast<float>((3 * k) % 13) - 6.0f;
        y[k] = static_cast<float>((7 * k + 2) % 9) - 4.0f;
    }
    std::vector<float> r(m + 2, -99.0f);
    correlate_lags(x.data(), y.data(), r.data(), n, m);
    for (int64_t i = 0; i <= m; ++i) {
        double sum = 0.0;
        for (int64_t k = 0; k + i < n; ++k)
            sum += static_cast<double>(x[k]) * y[k + i];
        EXPECT_EQ(r[i], static_cast<float>(sum)) << "lag " << i;
    }
    EXPECT_EQ(r[m + 1], -99.0f);
}

TEST(CorrelateLags, FindsTheShiftBetweenTwoSequences)
{
    // y is x delayed by 9 samples: the correlation peaks at lag 9.
    const int64_t n = 256;
    const int64_t shift = 9;
    std::vector<float> x(n), y(n, 0.0f);
    uint32_t lcg = 777u;
    for (int64_t k = 0; k < n; ++k) {
        lcg = lcg * 1664525u + 1013904223u;
        x[k] = static_cast<float>(static_cast<double>(lcg) / 4294967296.0 - 0.5);
    }
    for (int64_t k = shift; k < n; ++k)
        y[k] = x[k - shift];
    std::vector<float> r(33);
    correlate_lags(x.data(), y.data(), r.data(), n, 32);
    EXPECT_EQ(vec_max_index(33, r.data()), shift);
}

}  // namespace
