// A tone between bins through Hann, in closed form: its bins against a direct
// windowed DFT, its offset and phasor fitted back, its spread taken out; and
// the floors and the shape check of readings (distortion_floor.hpp).
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

#include "analysis/distortion_fit.hpp"
#include "analysis/distortion_floor.hpp"

namespace {

constexpr double df_pi = std::numbers::pi;

// A cos(2 pi (bin + offset) m / n + phi) as float32 frames, the whole part of
// the phase in integers.
std::vector<float> df_tone(int64_t n, int64_t bin, double offset, double a, double phi)
{
    std::vector<float> x(static_cast<size_t>(n));
    for (int64_t m = 0; m < n; m++) {
        const double cycles = static_cast<double>((bin * m) % n) / static_cast<double>(n) +
                              offset * static_cast<double>(m) / static_cast<double>(n);
        x[static_cast<size_t>(m)] = static_cast<float>(a * std::cos(2.0 * df_pi * cycles + phi));
    }
    return x;
}

}  // namespace

TEST(DistortionFit, ATonesHannBinsFitAndTakeOut)
{
    // For each tone: its Hann bins within 40 of it are (A/2) n h(u) to 1e-6 of
    // the tone (the float32 frames and the negative frequency left out); the
    // offset comes back within 1e-6 bin, the phasor within 1e-6; taken out,
    // no bin from 2 to 256 bins away holds 1e-7 of it (-140 dB).
    struct row {
        int64_t n, bin;
        double offset, a, phi;
    };
    const row rows[] = {{32768, 683, 0.0, 0.5, 0.3}, {32768, 683, 3e-4, 0.5, 1.0},   {32768, 10923, -2.5e-3, 0.1, -2.0},
                        {65536, 87, 0.02, 0.9, 0.0}, {131072, 5463, -0.3, 0.2, 2.9}, {32768, 341, 0.45, 0.05, -0.7}};
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << "n " << r.n << ", bin " << r.bin << " + " << r.offset);
        const std::vector<float> x = df_tone(r.n, r.bin, r.offset, r.a, r.phi);
        distortion_block b = distortion_block_of(x, r.n, 48000.0);
        const std::complex<double> phasor = std::polar(r.a, r.phi);
        for (int64_t j = r.bin - 40; j <= r.bin + 40; j++) {
            const std::complex<double> expected =
                0.5 * phasor * static_cast<double>(r.n) *
                distortion_hann_response(static_cast<double>(r.bin - j) + r.offset, r.n);
            EXPECT_LT(std::abs(b.hann[static_cast<size_t>(j)] - expected), 1e-6 * r.a * static_cast<double>(r.n)) << j;
        }
        const double offset = distortion_offset_hann(b, r.bin);
        EXPECT_NEAR(offset, r.offset, 1e-6);
        const distortion_tone t = distortion_fit(b, r.bin, offset);
        EXPECT_LT(std::abs(t.phasor - phasor), 1e-6);
        distortion_take_out(b, t);
        for (int64_t j = r.bin - distortion_fit_reach; j <= r.bin + distortion_fit_reach; j++) {
            if (std::llabs(j - r.bin) >= 2 && j > 0) {
                EXPECT_LT(2.0 * std::abs(b.hann[static_cast<size_t>(j)]) / static_cast<double>(r.n), 1e-7 * r.a) << j;
            }
        }
    }
}

TEST(DistortionFloor, AReadingAgainstItsNoiseAndItsShape)
{
    // A component of level c in white noise sigma, and what lies beside it:
    // a measurement from 10 dB over its floor (the noise's three bins,
    // 12 sigma^2 / n), a bound below; a coherent component a bin beside it
    // leaves 0.15 of its power beyond the reading's shape, two bins beside
    // 0.05, and makes a coherent reading a bound once that is 1e-4 of the
    // bins' power (a bin beside, -34 dB re the reading) and 10 times the
    // noise's, not below; off its bin by the offset expected, and with a
    // component 3 bins away, it stays a measurement.
    struct row {
        double c_db;       // re sigma's three-bin floor
        double offset;     // the component's offset, bins (expected by the read)
        int64_t beside;    // bins to a second component (0: none)
        double beside_db;  // its level re the component
        bool bound;
    };
    const row rows[] = {{20.0, 0.0, 0, 0.0, false},   {0.0, 0.0, 0, 0.0, true},       {15.0, 0.0, 0, 0.0, false},
                        {40.0, 0.0, 1, -20.0, true},  {40.0, 0.0, 2, -10.0, true},    {40.0, 0.0, 1, -50.0, false},
                        {40.0, 0.3, 0, 0.0, false},   {40.0, -0.02, 3, -10.0, false}, {60.0, 0.0, 1, -30.0, true},
                        {80.0, 0.0, -1, -30.0, true}, {80.0, 0.0, -1, -45.0, false}};
    const int64_t n = 32768, bin = 2001;
    const double sigma = 1e-6, floor = std::sqrt(12.0 * sigma * sigma / static_cast<double>(n));
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.c_db << " dB, offset " << r.offset << ", beside " << r.beside << " at "
                                        << r.beside_db << " dB");
        const double c = floor * std::pow(10.0, r.c_db / 20.0);
        std::vector<float> x = df_tone(n, bin, r.offset, c, 0.4);
        if (r.beside != 0) {
            const std::vector<float> y = df_tone(n, bin + r.beside, 0.0, c * std::pow(10.0, r.beside_db / 20.0), 1.3);
            for (size_t i = 0; i < x.size(); i++)
                x[i] += y[i];
        }
        std::mt19937_64 generator(5);
        std::normal_distribution<double> normal(0.0, sigma);
        for (float& v : x)
            v += static_cast<float>(normal(generator));
        const distortion_block b = distortion_block_of(x, n, 48000.0);
        const std::vector<int64_t> components = {bin};
        const distortion_reading read = distortion_read_coherent(b, bin, components, r.offset);
        EXPECT_NEAR(20.0 * std::log10(read.floor / floor), 0.0, 1.5);
        EXPECT_EQ(read.bound, r.bound) << 20.0 * std::log10(read.amplitude / read.floor) << " dB over the floor";
        EXPECT_GE(distortion_reported(read), read.amplitude);
    }
}

// The Hann transform against a direct windowed DFT at the spectrum's edges
// (bins 0, 1, n/2 - 1 and n/2, where the window's neighbours lie beyond the
// half spectrum) and inside, on DC, a tone near Nyquist, a tone a bin and a
// third up, and noise: each bin within 1e-9 of the frames' RMS times n.
TEST(DistortionFit, HannBinsAreTheWindowedFramesTransformAtEveryBin)
{
    constexpr int64_t n = 1024;
    struct row {
        const char* what;
        double dc, bin, a, noise;
    };
    const row rows[] = {{"DC", 0.25, 0.0, 0.0, 0.0},
                        {"near Nyquist", 0.0, 511.3, 0.5, 0.0},
                        {"a bin and a third", 0.01, 1.3333, 0.7, 0.0},
                        {"noise", -0.003, 0.0, 0.0, 0.2}};
    std::mt19937_64 generator(5);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        std::vector<float> x(static_cast<size_t>(n));
        for (int64_t m = 0; m < n; m++)
            x[static_cast<size_t>(m)] = static_cast<float>(
                r.dc + r.a * std::cos(2.0 * df_pi * r.bin * static_cast<double>(m) / n) + r.noise * normal(generator));
        const distortion_block b = distortion_block_of(x, n, 48000.0);
        ASSERT_EQ(b.hann.size(), static_cast<size_t>(n / 2 + 1));
        for (int64_t k : {int64_t{0}, int64_t{1}, int64_t{2}, int64_t{300}, n / 2 - 1, n / 2}) {
            std::complex<double> direct = 0.0;
            for (int64_t m = 0; m < n; m++) {
                const double w = 0.5 - 0.5 * std::cos(2.0 * df_pi * static_cast<double>(m) / n);
                direct += static_cast<double>(x[static_cast<size_t>(m)]) * w *
                          std::polar(1.0, -2.0 * df_pi * static_cast<double>((k * m) % n) / n);
            }
            EXPECT_LT(std::abs(b.hann[static_cast<size_t>(k)] - direct), 1e-9 * static_cast<double>(n)) << k;
        }
    }
}
