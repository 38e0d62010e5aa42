// loopsim's path against independent computations: its printed response
// against a direct DFT of its own impulse response folded to period 2048 (the
// steady state a periodic stimulus sees), the impulse response's shape against
// the delays and gains asked for, and the disturbances against their levels.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
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

path_options with_echoes(path_options o, std::vector<loopsim::echo_options> echoes)
{
    o.echoes = std::move(echoes);
    return o;
}

path_options at_rate(path_options o, double rate)
{
    o.rate = rate;
    return o;
}

const std::vector<path_options> paths = {
    options(0, 0.0, 1.0, false, 0.0, 0.0, eq_kind::none, 0, 0, 0),
    options(300, 0.0, 0.5, false, 20000.0, 0.0, eq_kind::none, 0, 0, 0),
    options(17, 0.5, 1.0, true, 0.0, 0.0, eq_kind::none, 0, 0, 0),
    options(300, 0.25, 0.7, false, 22000.0, 3.0, eq_kind::peak, 1000.0, 2.0, 0.5),
    options(5, 0.0, 1.0, false, 20000.0, 5.0, eq_kind::low_shelf, 300.0, 0.7071, -10.0),
    options(5, 0.0, 2.0, false, 0.0, 0.0, eq_kind::high_shelf, 8000.0, 0.7071, 6.0),
    with_echoes(options(300, 0.0, 0.5, true, 20000.0, 3.0, eq_kind::none, 0, 0, 0), {{5000, -6.0}, {-100, -20.0}}),
    at_rate(options(300, 0.25, 0.7, false, 40000.0, 3.0, eq_kind::peak, 1000.0, 2.0, 0.5), 96000.0),
    at_rate(options(40, 0.0, 1.5, false, 20000.0, 5.0, eq_kind::low_shelf, 300.0, 0.7071, -10.0), 44100.0),
};

// sum h[n] e^(-j 2 pi hz n / rate) over the impulse response, directly.
std::complex<double> direct_transfer(const std::vector<double>& h, double hz, double rate)
{
    std::complex<double> sum = 0.0;
    for (size_t n = 0; n < h.size(); n++)
        sum += h[n] * std::polar(1.0, -2.0 * M_PI * hz * static_cast<double>(n) / rate);
    return sum;
}

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
    o = with_echoes(path_options{}, {{-1, 0.0}});  // before the input arrives
    EXPECT_NE(loopsim::path_check(o), "");
    o = with_echoes(path_options{}, std::vector<loopsim::echo_options>(5));
    EXPECT_NE(loopsim::path_check(o), "");
    o = at_rate(path_options{}, 96000.0);
    o.aa_cutoff_hz = 40000.0;
    EXPECT_EQ(loopsim::path_check(o), "");
    o.rate = 48000.0;
    EXPECT_NE(loopsim::path_check(o), "");
}

TEST(LoopsimPath, LevelPhaseAndGroupDelayAreThoseOfTheImpulseResponse)
{
    // Against the transform of the impulse response itself (long enough for the
    // sections' tails to die away), and the group delay against its phase
    // slope over +-0.01 Hz (an echo's comb bends the phase faster: looser).
    for (size_t c = 0; c < paths.size(); c++) {
        const std::vector<double> h = loopsim::path_impulse_response(paths[c], 2048 * 64);
        for (double hz : {20.0, 1000.0, 6300.0, 15000.0}) {
            const std::complex<double> want = direct_transfer(h, hz, paths[c].rate);
            const std::complex<double> got = loopsim::path_response_at(paths[c], hz);
            EXPECT_NEAR(std::abs(got - want), 0.0, 1e-9 * std::abs(want)) << "path " << c << " at " << hz;
            const double slope = std::arg(direct_transfer(h, hz + 0.01, paths[c].rate) *
                                          std::conj(direct_transfer(h, hz - 0.01, paths[c].rate))) /
                                 0.02;
            EXPECT_NEAR(loopsim::path_group_delay(paths[c], hz), -slope * paths[c].rate / (2.0 * M_PI),
                        paths[c].echoes.empty() ? 1e-3 : 1e-2)
                << "path " << c << " at " << hz;
        }
    }
}

TEST(LoopsimPath, GroupDelayOfLinearPhasePathsIsTheirDelay)
{
    struct delay_case {
        path_options o;
        double frames;
    };
    const std::vector<delay_case> cases = {
        {options(300, 0.0, 1.0, false, 0, 0, eq_kind::none, 0, 0, 0), 300.0},
        {options(300, 0.0, 0.5, true, 20000.0, 0, eq_kind::none, 0, 0, 0), 363.0},     // 127 taps: 63
        {options(300, 0.5, 1.0, false, 0, 0, eq_kind::none, 0, 0, 0), 315.5},          // 32 taps: 15.5
        {options(2820, 0.5, 1.0, false, 22000.0, 0, eq_kind::none, 0, 0, 0), 2898.5},  // 15.5 + 63
        {at_rate(options(300, 0.0, 1.0, false, 40000.0, 0, eq_kind::none, 0, 0, 0), 96000.0), 363.0},
    };
    for (const delay_case& c : cases)
        for (double hz : {100.0, 1000.0, 10000.0})
            EXPECT_NEAR(loopsim::path_group_delay(c.o, hz), c.frames, 1e-9) << c.frames << " at " << hz;
}

TEST(LoopsimPath, EchoesAndTheSingleDropoutSitWhereAsked)
{
    path_options o =
        with_echoes(options(300, 0.0, 0.5, true, 0, 0, eq_kind::none, 0, 0, 0), {{5000, -6.0}, {-300, -20.0}});
    const std::vector<double> h = loopsim::path_impulse_response(o, 8192);
    EXPECT_EQ(h[0], -0.5 * std::pow(10.0, -20.0 / 20.0));
    EXPECT_EQ(h[300], -0.5);
    EXPECT_EQ(h[5300], -0.5 * std::pow(10.0, -6.0 / 20.0));
    int64_t nonzero = 0;
    for (double v : h)
        nonzero += v != 0.0;
    EXPECT_EQ(nonzero, 3);

    // 12.5 ms at 0.25 s after the first sound, at 96000 Hz: 1200 zeros from frame 24000.
    o = at_rate(path_options{}, 96000.0);
    o.dropout_once_s = 0.25, o.dropout_once_ms = 12.5;
    loopsim::path broken = loopsim::path_build(o);
    int64_t zeros = 0, first_zero = -1;
    for (int64_t i = 0; i < 200; i++)
        loopsim::path_process(broken, 0.0);  // silence before: the clock has not started
    for (int64_t i = 0; i < 96000; i++)
        if (loopsim::path_process(broken, 1.0) == 0.0)
            zeros++, first_zero = first_zero < 0 ? i : first_zero;
    EXPECT_EQ(zeros, 1200);
    EXPECT_EQ(first_zero, 24000);
}

}  // namespace
