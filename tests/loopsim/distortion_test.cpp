// loopsim's nonlinearity: the closed form of its products for one and two
// tones against a DFT of the loop's own output, behind a linear part that
// changes the level arriving at the polynomial (gain, anti-aliasing filter).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

#include "common/rig.hpp"
#include "tests/loopsim/tone.hpp"
#include "tools/loopsim/loop.hpp"

namespace {

struct distortion_case {
    std::vector<double> poly;
    double f1, a1, f2, a2;  // peak amplitudes played; f2 = 0: one tone
};

const std::vector<distortion_case> cases = {
    {{0.01}, 997.0, 0.5, 0.0, 0.0},
    {{0.003, 0.002, 0.001, 0.0005, 3e-4, 2e-4, 1e-4, 5e-5, 2e-5}, 1001.0, 0.9, 0.0, 0.0},  // H2 .. H10
    {{0.0, 0.0, 0.0, 0.01}, 6007.0, 0.7, 0.0, 0.0},  // H5 (30035 Hz) folds to 17965 Hz
    {{0.002, 0.003}, 60.0, 0.4, 7000.0, 0.1},        // SMPTE, 4:1
    {{0.004, 0.002}, 19000.0, 0.35, 20000.0, 0.35},  // CCIF, 1:1 (aliases that meet are left out)
};

TEST(LoopsimDistortion, ProductsHaveTheirClosedFormLevels)
{
    for (const distortion_case& c : cases) {
        loopsim::loop_options o;
        o.path.gain = 0.8, o.path.aa_cutoff_hz = 22000.0, o.path.delay = 10;
        o.poly = c.poly;
        // One second, after the filter has filled: every tone a whole number of cycles.
        const size_t settle = 1000, count = 48000;
        loopsim::loop l = loopsim::loop_build(o);
        static loopsim::glitch_queue q;
        std::vector<double> y(settle + count);
        for (size_t n = 0; n < y.size(); n++) {
            const double t = static_cast<double>(n) / rate;
            double x[2] = {c.a1 * std::cos(2.0 * M_PI * c.f1 * t) + c.a2 * std::cos(2.0 * M_PI * c.f2 * t), 0.0},
                   out[2];
            loopsim::loop_process(l, x, out, q);
            y[n] = out[0];
        }
        // The amplitudes arriving at the polynomial: the played ones through the linear part.
        const double at1 = c.a1 * std::abs(loopsim::path_response_at(o.path, c.f1));
        const double at2 = c.a2 * std::abs(loopsim::path_response_at(o.path, c.f2));
        const std::vector<loopsim::poly_product> products =
            loopsim::poly_products(loopsim::poly_make(c.poly), at1, at2);
        std::map<int64_t, int> landing;  // folded frequency -> products landing there
        auto folded = [](const loopsim::poly_product& p, const distortion_case& c) {
            const int64_t hz = std::llabs(std::llrint(p.p * c.f1 + p.q * c.f2)) % 48000;
            return hz > 24000 ? 48000 - hz : hz;
        };
        for (const loopsim::poly_product& p : products)
            landing[folded(p, c)]++;
        int checked = 0;
        for (const loopsim::poly_product& p : products) {
            const int64_t hz = folded(p, c);
            if (landing[hz] > 1 || hz == 0 || hz == 24000)
                continue;
            const double measured = std::abs(tone_at(y, settle, count, static_cast<double>(hz), rate));
            EXPECT_NEAR(20.0 * std::log10(measured), 20.0 * std::log10(p.amplitude), 0.001)
                << c.f1 << " Hz: product " << p.p << "," << p.q << " at " << hz << " Hz";
            checked++;
        }
        // At least the tone and one product of every order the polynomial has.
        EXPECT_GE(checked, 1 + std::count_if(c.poly.begin(), c.poly.end(), [](double a) { return a != 0.0; }))
            << c.f1 << " Hz";
    }
}

TEST(LoopsimDistortion, OneToneHarmonicsMatchTheChebyshevExpansion)
{
    // x + a2 x^2 + a3 x^3 for A cos: H2 = a2 A^2 / 2, H3 = a3 A^3 / 4, DC = a2 A^2 / 2,
    // the fundamental A + 3 a3 A^3 / 4: the textbook closed form.
    const double a = 0.6, a2 = 0.05, a3 = -0.02;
    const std::vector<loopsim::poly_product> products = loopsim::poly_products(loopsim::poly_make({a2, a3}), a, 0.0);
    std::map<int64_t, double> level;
    for (const loopsim::poly_product& p : products)
        level[p.p] = p.amplitude;
    EXPECT_NEAR(level[0], a2 * a * a / 2.0, 1e-15);
    EXPECT_NEAR(level[1], std::fabs(a + 3.0 * a3 * a * a * a / 4.0), 1e-15);
    EXPECT_NEAR(level[2], a2 * a * a / 2.0, 1e-15);
    EXPECT_NEAR(level[3], std::fabs(a3) * a * a * a / 4.0, 1e-15);
    EXPECT_EQ(level.size(), 4u);
}

}  // namespace
