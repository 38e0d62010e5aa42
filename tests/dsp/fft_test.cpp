// The 2048-point FFT: tables, swap list, transform values and accuracy.
#include "dsp/fft.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

#include "common/same_bits.hpp"

namespace {

constexpr int64_t n_fft = 2048;
constexpr float spare_value = 12345.0f;  // planted in element 2048, must survive

// Data arrays as the programs declare them: 2049 elements, the last one spare.
struct Block {
    std::vector<float> re = std::vector<float>(n_fft + 1, 0.0f);
    std::vector<float> im = std::vector<float>(n_fft + 1, 0.0f);
    Block()
    {
        re[n_fft] = spare_value;
        im[n_fft] = spare_value;
    }
};

// Deterministic uniform values in [-1, 1).
Block random_block(uint32_t seed)
{
    Block b;
    uint32_t s = seed;
    for (int64_t i = 0; i < n_fft; ++i) {
        s = s * 1664525u + 1013904223u;
        b.re[i] = static_cast<float>(static_cast<double>(s) / 2147483648.0 - 1.0);
        s = s * 1664525u + 1013904223u;
        b.im[i] = static_cast<float>(static_cast<double>(s) / 2147483648.0 - 1.0);
    }
    return b;
}

// Every case starts from freshly built program-wide tables.
class Fft : public ::testing::Test {
protected:
    void SetUp() override
    {
        fft_reset();
        Block scratch;
        fft_2048(scratch.re.data(), scratch.im.data(), -1, 1);
    }
};

// ---- Independent reference: a recursive radix-2 FFT with the same float rounding.
// Its twiddles are taken per index from the quarter-wave cosine rather than from
// a filled table, and the recursion replaces the bit-reversal and stage loops.

float quarter_cos(int64_t i)
{  // i = 0 .. 512
    if (i == 0)
        return 1.0f;
    if (i == 512)
        return 0.0f;
    return static_cast<float>(std::cos(6.283185307179586 / 2048.0 * static_cast<double>(i)));
}
float ref_cos(int64_t k) { return k <= 512 ? quarter_cos(k) : -quarter_cos(1024 - k); }
float ref_sin(int64_t k) { return k <= 512 ? quarter_cos(512 - k) : quarter_cos(k - 512); }

void ref_fft(std::vector<float>& re, std::vector<float>& im, float sign)
{
    const size_t n = re.size();
    if (n == 1)
        return;
    std::vector<float> ere(n / 2), eim(n / 2), ore(n / 2), oim(n / 2);
    for (size_t i = 0; i < n / 2; ++i) {
        ere[i] = re[2 * i];
        eim[i] = im[2 * i];
        ore[i] = re[2 * i + 1];
        oim[i] = im[2 * i + 1];
    }
    ref_fft(ere, eim, sign);
    ref_fft(ore, oim, sign);
    const int64_t stride = n_fft / static_cast<int64_t>(n);
    for (size_t k = 0; k < n / 2; ++k) {
        const float wr = ref_cos(static_cast<int64_t>(k) * stride);
        const float wi = ref_sin(static_cast<int64_t>(k) * stride) * sign;
        const float pr = ore[k] * wr;
        const float qr = oim[k] * wi;
        const float tr = pr - qr;
        const float pi = ore[k] * wi;
        const float qi = oim[k] * wr;
        const float ti = pi + qi;
        re[k] = ere[k] + tr;
        im[k] = eim[k] + ti;
        re[k + n / 2] = ere[k] - tr;
        im[k + n / 2] = eim[k] - ti;
    }
}

// Reference transform of the first 2048 elements of b; direction as for fft_2048.
Block reference_transform(const Block& in, int64_t direction)
{
    std::vector<float> re(in.re.begin(), in.re.begin() + n_fft);
    std::vector<float> im(in.im.begin(), in.im.begin() + n_fft);
    ref_fft(re, im, static_cast<float>(direction));
    Block out;
    for (int64_t i = 0; i < n_fft; ++i) {
        out.re[i] = direction == 1 ? re[i] / 2048.0f : re[i];
        out.im[i] = direction == 1 ? im[i] / 2048.0f : im[i];
    }
    return out;
}

// The forward transform of a unit impulse at index at, with the tables as they are.
Block impulse_transform(int64_t at)
{
    Block b;
    b.re[at] = 1.0f;
    fft_2048(b.re.data(), b.im.data(), -1, 0);
    return b;
}

// The first bin k whose value is not exactly (re, im), or n_fft if none.
int64_t first_bin_not(const Block& b, float re, float im)
{
    int64_t k = 0;
    while (k < n_fft && b.re[k] == re && b.im[k] == im)
        ++k;
    return k;
}

// ---- Tables

TEST(FftTables, Log2Int)
{
    const int64_t cases[][2] = {{2048, 11}, {1024, 10}, {2, 1}, {3, 1}, {4095, 11}};
    for (const auto& c : cases)
        EXPECT_EQ(log2_int(c[0]), c[1]) << c[0];
}

TEST(FftTables, TwiddlesAreExactlySymmetricQuarterWaveFloats)
{
    std::vector<float> c(1025, spare_value), s(1025, spare_value);
    fft_make_twiddles(c.data(), s.data(), 2048);
    EXPECT_EQ(c[0], 1.0f);
    EXPECT_EQ(c[512], 0.0f);
    EXPECT_EQ(s[0], 0.0f);
    EXPECT_EQ(s[512], 1.0f);
    for (int64_t i = 1; i < 512; ++i) {
        ASSERT_TRUE(same_bits(c[1024 - i], -c[i])) << i;
        ASSERT_TRUE(same_bits(s[512 - i], c[i])) << i;
        ASSERT_TRUE(same_bits(s[512 + i], c[i])) << i;
    }
    // Each entry is the float nearest the true value (half an ulp, plus slack for
    // the double evaluation of the argument).
    for (int64_t k = 0; k < 1024; ++k) {
        const long double angle = 2.0L * 3.14159265358979323846264338327950288L * k / 2048.0L;
        const double cos_true = static_cast<double>(std::cos(angle));
        const double sin_true = static_cast<double>(std::sin(angle));
        const double half_ulp = 0.5 * std::ldexp(1.0, -24);  // values below 1 in magnitude
        ASSERT_LE(std::fabs(c[k] - cos_true), half_ulp + 1e-15) << k;
        ASSERT_LE(std::fabs(s[k] - sin_true), half_ulp + 1e-15) << k;
    }
    EXPECT_EQ(c[1024], spare_value) << "entry 1024 is not part of the table";
    EXPECT_EQ(s[1024], spare_value);
}

TEST(FftTables, TwiddlesForSixteenPoints)
{
    std::vector<float> c(9, spare_value), s(9, spare_value);
    fft_make_twiddles(c.data(), s.data(), 16);
    const float c1 = static_cast<float>(std::cos(6.283185307179586 / 16.0));
    const float c2 = static_cast<float>(std::cos(6.283185307179586 / 16.0 * 2.0));
    const float c3 = static_cast<float>(std::cos(6.283185307179586 / 16.0 * 3.0));
    const float want_c[] = {1.0f, c1, c2, c3, 0.0f, -c3, -c2, -c1};
    const float want_s[] = {0.0f, c3, c2, c1, 1.0f, c1, c2, c3};
    for (int k = 0; k < 8; ++k) {
        EXPECT_TRUE(same_bits(c[k], want_c[k])) << k;
        EXPECT_TRUE(same_bits(s[k], want_s[k])) << k;
    }
    EXPECT_EQ(c[8], spare_value);
    EXPECT_EQ(s[8], spare_value);
}

TEST(FftTables, SwapListFor2048)
{
    std::vector<int64_t> first(1025, -1), second(1025, -1);
    int64_t count = -1;
    fft_make_bitrev(first.data(), second.data(), count, 2048);
    ASSERT_EQ(count, 992);
    const int64_t head[5][2] = {{1, 1024}, {2, 512}, {3, 1536}, {4, 256}, {5, 1280}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(first[i], head[i][0]) << i;
        EXPECT_EQ(second[i], head[i][1]) << i;
    }
    EXPECT_EQ(first[991], 1983);
    EXPECT_EQ(second[991], 2031);
    EXPECT_EQ(first[992], -1) << "nothing written past the count";

    // Each pair is (i, reverse(i)) with reverse(i) > i, i ascending, and every index
    // that is not its own reversal appears exactly once.
    std::vector<int> seen(2048, 0);
    for (int64_t k = 0; k < count; ++k) {
        int64_t reversed = 0;
        for (int bit = 0; bit < 11; ++bit)
            reversed = (reversed << 1) | ((first[k] >> bit) & 1);
        ASSERT_EQ(second[k], reversed) << k;
        ASSERT_GT(second[k], first[k]) << k;
        if (k > 0) {
            ASSERT_GT(first[k], first[k - 1]) << k;
        }
        ++seen[first[k]];
        ++seen[second[k]];
    }
    for (int64_t i = 0; i < 2048; ++i) {
        int64_t reversed = 0;
        for (int bit = 0; bit < 11; ++bit)
            reversed = (reversed << 1) | ((i >> bit) & 1);
        ASSERT_EQ(seen[i], reversed == i ? 0 : 1) << i;
    }
}

TEST(FftTables, SwapListForEightPoints)
{
    int64_t first[4] = {-1, -1, -1, -1}, second[4] = {-1, -1, -1, -1};
    int64_t count = -1;
    fft_make_bitrev(first, second, count, 8);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(first[0], 1);
    EXPECT_EQ(second[0], 4);
    EXPECT_EQ(first[1], 3);
    EXPECT_EQ(second[1], 6);
}

TEST(FftTables, BitrevSwapAppliesPairsInListOrder)
{
    // Overlapping pairs make the order visible: (0,1) then (1,2) rotates left.
    float a[] = {10.0f, 11.0f, 12.0f, 13.0f};
    const int64_t first[] = {0, 1};
    const int64_t second[] = {1, 2};
    fft_bitrev_swap(a, first, second, 2);
    EXPECT_EQ(a[0], 11.0f);
    EXPECT_EQ(a[1], 12.0f);
    EXPECT_EQ(a[2], 10.0f);
    EXPECT_EQ(a[3], 13.0f);
}

// ---- Transform

TEST_F(Fft, InitialisationLeavesTheDataAlone)
{
    Block b = random_block(3);
    const Block before = b;
    fft_2048(b.re.data(), b.im.data(), -1, 1);
    EXPECT_EQ(b.re, before.re);
    EXPECT_EQ(b.im, before.im);
}

TEST_F(Fft, ImpulseAtZeroGivesExactOnes) { EXPECT_EQ(first_bin_not(impulse_transform(0), 1.0f, 0.0f), n_fft); }

TEST_F(Fft, ImpulseAtOneRotatesWithNegativeExponent)
{
    const Block b = impulse_transform(1);
    EXPECT_NEAR(b.re[1], 0.9999953f, 1e-7);
    EXPECT_NEAR(b.im[1], -0.0030680f, 1e-7);
    // Until the last stage the spreading ones only meet zeros; the last stage then
    // multiplies 1 by the twiddle of k, so bin k (k < 1024) is exactly (cos, -sin) of k.
    EXPECT_TRUE(same_bits(b.re[1], quarter_cos(1)));
    EXPECT_TRUE(same_bits(b.im[1], -quarter_cos(511)));
    EXPECT_EQ(b.re[512], 0.0f);
    EXPECT_EQ(b.im[512], -1.0f);
    EXPECT_EQ(b.re[1024], -1.0f);
    EXPECT_EQ(b.re[1536], 0.0f);
    EXPECT_EQ(b.im[1536], 1.0f);
}

TEST_F(Fft, SineLandsInItsBinWithTheForwardSign)
{
    // sin(2 pi 5 m / N) = (e^{+j..} - e^{-j..}) / 2j: bin 5 gets -jN/2, bin N-5 gets +jN/2.
    Block b;
    for (int64_t m = 0; m < n_fft; ++m) {
        b.re[m] = static_cast<float>(std::sin(2.0 * std::numbers::pi * 5.0 * static_cast<double>(m) / 2048.0));
    }
    fft_2048(b.re.data(), b.im.data(), -1, 0);
    EXPECT_NEAR(b.re[5], 0.0, 1e-3);
    EXPECT_NEAR(b.im[5], -1024.0, 1e-3);
    EXPECT_NEAR(b.im[2043], 1024.0, 1e-3);
    for (int64_t k = 0; k < n_fft; ++k) {
        if (k == 5 || k == 2043)
            continue;
        ASSERT_LT(std::hypot(b.re[k], b.im[k]), 1e-3) << k;
    }
}

TEST_F(Fft, BitExactAgainstRecursiveReference)
{
    for (const uint32_t seed : {1u, 2u, 99u}) {
        for (const int64_t direction : {int64_t{-1}, int64_t{1}}) {
            Block b = random_block(seed);
            const Block want = reference_transform(b, direction);
            fft_2048(b.re.data(), b.im.data(), direction, 0);
            for (int64_t k = 0; k < n_fft; ++k) {
                ASSERT_TRUE(same_bits(b.re[k], want.re[k])) << "seed " << seed << " dir " << direction << " re[" << k
                                                            << "] " << b.re[k] << " vs " << want.re[k];
                ASSERT_TRUE(same_bits(b.im[k], want.im[k]))
                    << "seed " << seed << " dir " << direction << " im[" << k << "]";
            }
        }
    }
}

TEST_F(Fft, ElementBeyondTheBlockIsNeverTouched)
{
    Block b = random_block(5);
    fft_2048(b.re.data(), b.im.data(), -1, 0);
    fft_2048(b.re.data(), b.im.data(), 1, 0);
    fft_2048(b.re.data(), b.im.data(), -1, 1);
    EXPECT_EQ(b.re[n_fft], spare_value);
    EXPECT_EQ(b.im[n_fft], spare_value);
}

TEST_F(Fft, ForwardNeverScalesInverseDividesBy2048)
{
    Block b;
    for (int64_t i = 0; i < n_fft; ++i)
        b.re[i] = 1.0f;
    fft_2048(b.re.data(), b.im.data(), -1, 0);
    EXPECT_EQ(b.re[0], 2048.0f);
    for (int64_t k = 1; k < n_fft; ++k) {
        ASSERT_EQ(b.re[k], 0.0f) << k;
        ASSERT_EQ(b.im[k], 0.0f) << k;
    }
    fft_2048(b.re.data(), b.im.data(), 1, 0);
    for (int64_t i = 0; i < n_fft; ++i) {
        ASSERT_EQ(b.re[i], 1.0f) << i;
        ASSERT_EQ(b.im[i], 0.0f) << i;
    }
}

TEST_F(Fft, InverseIsConjugatedForwardOverN)
{
    // inverse(X) = conj(forward(conj X)) / 2048, and with symmetric rounding and a
    // power-of-two divisor the identity holds to the bit.
    for (const uint32_t seed : {7u, 8u}) {
        Block x = random_block(seed);
        Block y = x;
        for (int64_t i = 0; i < n_fft; ++i)
            y.im[i] = -y.im[i];
        fft_2048(x.re.data(), x.im.data(), 1, 0);
        fft_2048(y.re.data(), y.im.data(), -1, 0);
        for (int64_t k = 0; k < n_fft; ++k) {
            ASSERT_TRUE(same_bits(x.re[k], y.re[k] / 2048.0f)) << seed << " " << k;
            ASSERT_TRUE(same_bits(x.im[k], -y.im[k] / 2048.0f)) << seed << " " << k;
        }
    }
}

TEST_F(Fft, ForwardThenInverseReturnsTheInput)
{
    for (const uint32_t seed : {11u, 12u, 13u, 14u}) {
        const Block x = random_block(seed);
        Block b = x;
        fft_2048(b.re.data(), b.im.data(), -1, 0);
        fft_2048(b.re.data(), b.im.data(), 1, 0);
        double worst = 0.0;
        for (int64_t i = 0; i < n_fft; ++i) {
            worst = std::max(worst, static_cast<double>(std::fabs(b.re[i] - x.re[i])));
            worst = std::max(worst, static_cast<double>(std::fabs(b.im[i] - x.im[i])));
        }
        EXPECT_LT(worst, 1e-6) << "seed " << seed;
    }
}

TEST_F(Fft, AgreesWithDoublePrecisionDft)
{
    // Floating-point radix-2 FFT bound (Higham, Accuracy and Stability of Numerical
    // Algorithms, Thm 24.2): ||X_fft - X||_2 / ||X||_2 <= L eta / (1 - L eta), with
    // L = log2 N = 11 and eta = mu + gamma_4 (sqrt 2 + mu), mu the twiddle error.
    // With u = 2^-24, mu <= u and gamma_4 ~ 4u: eta ~ 6.66 u = 3.97e-7, bound ~ 4.4e-6.
    const double bound = 4.5e-6;
    std::vector<double> cos_n(n_fft), sin_n(n_fft);
    for (int64_t k = 0; k < n_fft; ++k) {
        cos_n[k] = std::cos(2.0 * std::numbers::pi * static_cast<double>(k) / 2048.0);
        sin_n[k] = std::sin(2.0 * std::numbers::pi * static_cast<double>(k) / 2048.0);
    }
    for (const uint32_t seed : {21u, 22u}) {
        Block b = random_block(seed);
        double err2 = 0.0;
        double ref2 = 0.0;
        std::vector<double> xr(b.re.begin(), b.re.begin() + n_fft);
        std::vector<double> xi(b.im.begin(), b.im.begin() + n_fft);
        fft_2048(b.re.data(), b.im.data(), -1, 0);
        for (int64_t k = 0; k < n_fft; ++k) {
            double sr = 0.0;
            double si = 0.0;
            for (int64_t m = 0; m < n_fft; ++m) {
                const int64_t idx = (k * m) % n_fft;  // e^{-j 2 pi k m / N}
                sr += xr[m] * cos_n[idx] + xi[m] * sin_n[idx];
                si += xi[m] * cos_n[idx] - xr[m] * sin_n[idx];
            }
            err2 += (b.re[k] - sr) * (b.re[k] - sr) + (b.im[k] - si) * (b.im[k] - si);
            ref2 += sr * sr + si * si;
        }
        EXPECT_LT(std::sqrt(err2 / ref2), bound) << "seed " << seed;
    }
}

TEST_F(Fft, ParsevalHolds)
{
    // sum |X|^2 = N sum |x|^2; a relative error e in X moves the energy by about 2e,
    // so the double of the DFT bound above (4.5e-6) gives 1e-5.
    for (const uint32_t seed : {31u, 32u, 33u}) {
        Block b = random_block(seed);
        double time_energy = 0.0;
        for (int64_t i = 0; i < n_fft; ++i) {
            time_energy += static_cast<double>(b.re[i]) * b.re[i] + static_cast<double>(b.im[i]) * b.im[i];
        }
        fft_2048(b.re.data(), b.im.data(), -1, 0);
        double freq_energy = 0.0;
        for (int64_t k = 0; k < n_fft; ++k) {
            freq_energy += static_cast<double>(b.re[k]) * b.re[k] + static_cast<double>(b.im[k]) * b.im[k];
        }
        EXPECT_NEAR(freq_energy / (2048.0 * time_energy), 1.0, 1e-5) << "seed " << seed;
    }
}

TEST_F(Fft, ResetEmptiesTheTables)
{
    // With all-zero twiddles and no swaps, every butterfly copies re[a] over re[b], so
    // all outputs become x[0] and an impulse away from index 0 vanishes; built tables
    // would spread it over all bins.
    fft_reset();
    EXPECT_EQ(first_bin_not(impulse_transform(5), 0.0f, 0.0f), n_fft);
    Block scratch;
    fft_2048(scratch.re.data(), scratch.im.data(), -1, 1);  // leave the tables built
}

TEST_F(Fft, SecondInitialisationRebuildsTheSameTables)
{
    Block a = random_block(41);
    Block b = a;
    fft_2048(a.re.data(), a.im.data(), -1, 0);
    Block scratch;
    fft_2048(scratch.re.data(), scratch.im.data(), -1, 1);
    fft_2048(b.re.data(), b.im.data(), -1, 0);
    for (int64_t k = 0; k < n_fft; ++k) {
        ASSERT_TRUE(same_bits(a.re[k], b.re[k])) << k;
        ASSERT_TRUE(same_bits(a.im[k], b.im[k])) << k;
    }
}

}  // namespace
