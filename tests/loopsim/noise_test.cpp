// loopsim's pink noise against the closed form of pink (equal power in every
// octave) by a Welch estimate of its spectrum, its full-band RMS against the
// level asked for; its hum against the levels documented.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "common/rig.hpp"
#include "tests/loopsim/tone.hpp"
#include "tools/loopsim/loop.hpp"

namespace {

std::vector<double> noise(double dbfs, loopsim::noise_colour colour, size_t count)
{
    loopsim::path_options o;
    o.noise_dbfs = dbfs, o.colour = colour;
    loopsim::path p = loopsim::path_build(o);
    std::vector<double> y(count);
    for (double& v : y)
        v = loopsim::path_noise(p);
    return y;
}

// f PSD(f), averaged over eight bins spread across f / 2^(1/6) .. f 2^(1/6),
// from Hann-windowed blocks of 8192: flat for pink noise.
double octave_density(const std::vector<double>& y, double hz)
{
    constexpr size_t block = 8192;
    // Plain doubles and a running index: the same sums as with std::complex,
    // without its calls a term, which the sanitizer build leaves unoptimised.
    std::vector<double> twiddle_re(block), twiddle_im(block), window(block);
    for (size_t n = 0; n < block; n++) {
        const std::complex<double> t = std::polar(1.0, -2.0 * M_PI * static_cast<double>(n) / block);
        twiddle_re[n] = t.real(), twiddle_im[n] = t.imag();
        window[n] = 0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(n) / block);
    }
    const double step = rate / block;
    const size_t low = static_cast<size_t>(std::ceil(hz / std::pow(2.0, 1.0 / 6.0) / step));
    const size_t high = static_cast<size_t>(std::floor(hz * std::pow(2.0, 1.0 / 6.0) / step));
    const size_t stride = std::max<size_t>(1, (high - low + 1) / 8);
    double sum = 0.0;
    int64_t terms = 0;
    for (size_t start = 0; start + block <= y.size(); start += block)
        for (size_t k = low; k <= high; k += stride) {
            const double* in = y.data() + start;
            double re = 0.0, im = 0.0;
            for (size_t n = 0, at = 0; n < block; n++, at = (at + k) % block) {
                const double a = in[n] * window[n];
                re += a * twiddle_re[at];
                im += a * twiddle_im[at];
            }
            sum += std::norm(std::complex<double>(re, im)) * static_cast<double>(k) * step;
            terms++;
        }
    return sum / static_cast<double>(terms);
}

TEST(LoopsimNoise, PinkHasEqualPowerInEveryOctave)
{
    const std::vector<double> y = noise(-30.0, loopsim::noise_colour::pink, size_t{1} << 21);
    double power = 0.0;
    for (double v : y)
        power += v * v;
    EXPECT_NEAR(10.0 * std::log10(power / static_cast<double>(y.size())), -30.0, 0.15);
    const double reference = 10.0 * std::log10(octave_density(y, 1000.0));
    for (double hz = 62.5; hz <= 16000.0; hz *= 2.0)
        EXPECT_NEAR(10.0 * std::log10(octave_density(y, hz)), reference, 0.5) << hz << " Hz";
    // And white noise is not pink: its octaves rise 3 dB each.
    const std::vector<double> w = noise(-30.0, loopsim::noise_colour::white, size_t{1} << 17);
    EXPECT_NEAR(10.0 * std::log10(octave_density(w, 8000.0) / octave_density(w, 1000.0)), 9.03, 0.5);
}

TEST(LoopsimNoise, HumHarmonicsFallAsOneOverK)
{
    struct hum_case {
        double hz, dbfs;
        int64_t harmonics;
    };
    for (const hum_case& c : std::vector<hum_case>{{50.0, -40.0, 5}, {60.0, -55.0, 3}, {50.0, -20.0, 1}}) {
        loopsim::loop_options o;
        o.hum_hz = c.hz, o.hum_dbfs = c.dbfs, o.hum_harmonics = c.harmonics;
        ASSERT_EQ(loopsim::loop_check(o), "");
        loopsim::loop l = loopsim::loop_build(o);
        static loopsim::glitch_queue q;
        std::vector<double> y(48000);
        for (double& v : y) {
            double x[2] = {}, out[2];
            loopsim::loop_process(l, x, out, q);
            v = out[0];
        }
        for (int64_t k = 1; k <= c.harmonics + 1; k++) {
            const double measured = std::abs(tone_at(y, 0, y.size(), c.hz * static_cast<double>(k), rate));
            if (k > c.harmonics)
                EXPECT_LT(measured, 1e-12) << c.hz << " Hz, harmonic " << k;
            else
                EXPECT_NEAR(20.0 * std::log10(measured), c.dbfs - 20.0 * std::log10(static_cast<double>(k)), 1e-6)
                    << c.hz << " Hz, harmonic " << k;
        }
    }
}

}  // namespace
