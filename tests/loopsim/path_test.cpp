// loopsim's path against independent computations: its printed response
// against a direct DFT of its own impulse response folded to period 2048 (the
// steady state a periodic stimulus sees), the impulse response's shape against
// the delays and gains asked for, and the disturbances against their levels.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "common/direct_dft.hpp"
#include "tools/loopsim/path.hpp"

namespace {

using loopsim::eq_kind;
using loopsim::path_options;

path_options options(int64_t delay, double fraction, double gain, bool invert, double aa_hz, double highpass_hz,
                     eq_kind eq, double eq_hz, double eq_q, double eq_db)
{
    path_options o;
    o.delay = delay, o.fraction = fraction, o.gain = gain, o.invert = invert;
    o.aa_cutoff_hz = aa_hz, o.highpass_hz = highpass_hz;
    o.eq = eq, o.eq_hz = eq_hz, o.eq_q = eq_q, o.eq_db = eq_db;
    return o;
}

const std::vector<path_options> paths = {
    options(0, 0.0, 1.0, false, 0.0, 0.0, eq_kind::none, 0, 0, 0),
    options(300, 0.0, 0.5, false, 20000.0, 0.0, eq_kind::none, 0, 0, 0),
    options(17, 0.5, 1.0, true, 0.0, 0.0, eq_kind::none, 0, 0, 0),
    options(300, 0.25, 0.7, false, 22000.0, 3.0, eq_kind::peak, 1000.0, 2.0, 0.5),
    options(5, 0.0, 1.0, false, 20000.0, 5.0, eq_kind::low_shelf, 300.0, 0.7071, -10.0),
    options(5, 0.0, 2.0, false, 0.0, 0.0, eq_kind::high_shelf, 8000.0, 0.7071, 6.0),
};

// Direct DFT in double of the impulse response folded modulo 2048, long enough
// for every section's tail to have died away, in dB.
std::vector<double> folded_dft_db(const path_options& o)
{
    const std::vector<double> h = loopsim::path_impulse_response(o, 2048 * 64);
    std::vector<double> period(2048, 0.0);
    for (size_t n = 0; n < h.size(); n++)
        period[n % 2048] += h[n];
    return direct_dft_levels(period, 1e-300);
}

TEST(LoopsimPath, PrintedResponseIsTheDftOfTheImpulseResponse)
{
    for (size_t c = 0; c < paths.size(); c++) {
        const std::vector<double> printed = loopsim::path_response_db(paths[c]);
        const std::vector<double> direct = folded_dft_db(paths[c]);
        for (int64_t k = 0; k < 1024; k++) {
            if (direct[k] < -200.0)  // the DC-blocker's zero: both far down
                EXPECT_LT(printed[k], -200.0) << "path " << c << " bin " << k;
            else
                EXPECT_NEAR(printed[k], direct[k], 1e-6) << "path " << c << " bin " << k;
        }
    }
}

TEST(LoopsimPath, TruncatedResponseOfAShortPathIsItsWholeResponse)
{
    // No IIR section: 300 + 32 + 127 taps fit in 2048, so cutting changes nothing.
    const path_options o = options(300, 0.5, 0.5, false, 20000.0, 0.0, eq_kind::none, 0, 0, 0);
    const std::vector<double> whole = loopsim::path_response_db(o);
    const std::vector<double> cut = loopsim::path_truncated_response_db(o, 1791);
    for (int64_t k = 0; k < 1024; k++)
        EXPECT_NEAR(cut[k], whole[k], 1e-6) << "bin " << k;
}

TEST(LoopsimPath, ImpulseResponsePeaksWhereTheDelaysPutIt)
{
    struct peak_case {
        path_options o;
        int64_t first_peak;  // delay + the filters' own (linear-phase) delay
        double value;
        int64_t equal_neighbour;  // -1: a single largest tap
    };
    const std::vector<peak_case> cases = {
        {options(300, 0.0, 1.0, false, 0, 0, eq_kind::none, 0, 0, 0), 300, 1.0, -1},
        {options(300, 0.0, 0.5, true, 0, 0, eq_kind::none, 0, 0, 0), 300, -0.5, -1},
        // Low-pass: centre tap 63 of 127, about 2 * 20000 / 48000 before the window's normalisation.
        {options(300, 0.0, 0.5, false, 20000.0, 0, eq_kind::none, 0, 0, 0), 363, 0.5 * 0.8333, -1},
        // Half a frame: two equal taps either side of 300 + 15.5, sinc(0.5) = 2 / pi.
        {options(300, 0.5, 1.0, false, 0, 0, eq_kind::none, 0, 0, 0), 315, 2.0 / M_PI, 316},
        {options(2500, 0.0, 1.0, false, 0, 0, eq_kind::none, 0, 0, 0), 2500, 1.0, -1},
    };
    for (const peak_case& c : cases) {
        const std::vector<double> h = loopsim::path_impulse_response(c.o, 4096);
        int64_t at = 0;
        for (int64_t n = 1; n < 4096; n++)
            if (std::fabs(h[n]) > std::fabs(h[at]))
                at = n;
        EXPECT_EQ(at, c.first_peak);
        EXPECT_NEAR(h[at], c.value, 0.01 * std::fabs(c.value));
        if (c.equal_neighbour >= 0) {
            EXPECT_EQ(h[c.equal_neighbour], h[at]);
        }
    }
}

TEST(LoopsimPath, NoiseHasItsRmsLevelAndDropoutsTheirLength)
{
    path_options o;
    o.noise_dbfs = -40.0;
    loopsim::path quiet = loopsim::path_build(o);
    double power = 0.0;
    for (int64_t i = 0; i < 480000; i++) {
        const double y = loopsim::path_process(quiet, 0.0);
        power += y * y;
    }
    // Ten seconds: the mean of u^2 over 480000 samples is within 0.1 % (0.01 dB).
    EXPECT_NEAR(10.0 * std::log10(power / 480000.0), -40.0, 0.02);

    o.noise_dbfs = -400.0;
    o.dropout_ms = 10.0, o.dropout_every_s = 0.5;
    loopsim::path broken = loopsim::path_build(o);
    int64_t zeros = 0, first_zero = -1;
    for (int64_t i = 0; i < 48000; i++) {
        if (loopsim::path_process(broken, 1.0) == 0.0) {
            zeros++;
            if (first_zero < 0)
                first_zero = i;
        }
    }
    EXPECT_EQ(zeros, 2 * 480);
    EXPECT_EQ(first_zero, 24000 - 480);
}

TEST(LoopsimPath, OptionsOutsideTheirRangeAreRefused)
{
    path_options o;
    EXPECT_EQ(loopsim::path_check(o), "");
    o.fraction = 1.0;
    EXPECT_NE(loopsim::path_check(o), "");
    o = path_options{};
    o.aa_taps = 128;
    EXPECT_NE(loopsim::path_check(o), "");
    o = path_options{};
    o.dropout_ms = 2000.0;
    EXPECT_NE(loopsim::path_check(o), "");
}

}  // namespace
