// The response's points 1/24 octave apart on rows made by hand (11.7 Hz
// apart, as the analysis gives them): their count and frequencies by the
// closed form 1000 x 2^(n / 24), a step's level on either side of it, the
// line between two rows where the step is narrower than the rows, and the
// uncertainty a row's SNR gives, against a Monte Carlo of complex noise on a
// unit level.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <random>
#include <vector>

#include "analysis/response_points.hpp"

namespace {

constexpr double not_measured = std::numeric_limits<double>::quiet_NaN();

std::vector<response_row> points_rows(double (*level)(double), double snr_db, double top_hz = 24000.0)
{
    std::vector<response_row> rows;
    for (double hz = response_row_hz; hz <= top_hz; hz += response_row_hz)
        rows.push_back({hz, level(hz), 0.0, snr_db});
    return rows;
}

double points_flat(double) { return 0.0; }
double points_step_10k(double hz) { return hz >= 10000.0 ? -0.5 : 0.0; }
double points_line(double hz) { return -1e-3 * hz; }  // -1 dB a kHz: exact between two rows

}  // namespace

TEST(ResponsePoints, LevelsAndTheirFrequencies)
{
    const double step = std::pow(2.0, 1.0 / 48.0);  // half a point's width
    const struct {
        const char* name;
        double (*level)(double);
        double snr_db, low, high;
        size_t count;
        double (*expect)(double);  // each point's level at its frequency
    } cases[] = {
        // ceil(24 log2 0.02) = -135 .. floor(24 log2 20) = 103.
        {"points_flat, 20 Hz to 20 kHz", points_flat, 60.0, 20.0, 20000.0, 239, points_flat},
        {"a step at 10 kHz", points_step_10k, 60.0, 20.0, 20000.0, 239, points_step_10k},
        {"a line, 30 Hz to 300 Hz (between rows)", points_line, 60.0, 30.0, 300.0, 80, points_line},
        {"rows ending below the band", points_flat, 60.0, 20.0, 30000.0, 0, points_flat},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<response_row> rows = points_rows(c.level, c.snr_db);
        const std::vector<response_point> points = response_points(rows, c.low, c.high);
        ASSERT_EQ(points.size(), c.count);
        for (size_t i = 0; i < points.size(); i++) {
            const double hz = points[i].hz;
            EXPECT_GE(hz, c.low * (1 - 1e-12));
            EXPECT_LE(hz, c.high * (1 + 1e-12));
            if (i > 0) {
                EXPECT_NEAR(hz / points[i - 1].hz, step * step, 1e-12);
            }
            EXPECT_NEAR(std::log2(hz / 1000.0) * 24.0, std::nearbyint(std::log2(hz / 1000.0) * 24.0), 1e-9);
            // A step's edge within a point's width: any level between the two sides.
            if (c.level == points_step_10k && hz > 10000.0 / step && hz < 10000.0 * step)
                continue;
            EXPECT_NEAR(points[i].level_db, c.expect(hz), c.level == points_line ? 1e-9 : 1e-12) << hz << " Hz";
        }
    }
}

TEST(ResponsePoints, Uncertainty)
{
    // A row's level with complex Gaussian noise snr_db below it: the spread of
    // 20 log10 |1 + n| over many draws, against the closed form.
    std::mt19937_64 random(47);
    for (const double snr_db : {20.0, 30.0, 40.0}) {
        SCOPED_TRACE(snr_db);
        std::normal_distribution<double> noise(0.0, std::sqrt(std::pow(10.0, -snr_db / 10.0) / 2.0));
        double sum = 0.0, squares = 0.0;
        constexpr int draws = 200000;
        for (int i = 0; i < draws; i++) {
            const double db = 20.0 * std::log10(std::abs(std::complex<double>(1.0 + noise(random), noise(random))));
            sum += db, squares += db * db;
        }
        const double spread = std::sqrt(squares / draws - (sum / draws) * (sum / draws));
        EXPECT_NEAR(response_level_uncertainty_db(snr_db), spread, 0.01 * spread);
    }

    const double u40 = response_level_uncertainty_db(40.0), u20 = response_level_uncertainty_db(20.0);
    EXPECT_NEAR(u20, 20.0 / std::log(10.0) / std::sqrt(200.0), 1e-12);
    const struct {
        const char* name;
        double snr_low, snr_high;  // the rows' SNR below and above 5 kHz
        double hz;                 // a point's frequency
        double expect;
    } cases[] = {
        // The reference row (996 Hz) is below 5 kHz: its uncertainty goes in with each point's.
        {"40 dB everywhere, 10 kHz", 40.0, 40.0, 10000.0 * std::pow(2.0, -0.5 / 24.0) * std::pow(2.0, 0.5 / 24.0),
         std::hypot(u40, u40)},
        {"20 dB above 5 kHz, 40 dB at the reference", 40.0, 20.0, 16000.0, std::hypot(u20, u40)},
        {"20 dB above 5 kHz, 40 dB at 100 Hz", 40.0, 20.0, 100.0, std::hypot(u40, u40)},
        {"not measured (NaN) above 5 kHz", 40.0, not_measured, 16000.0, not_measured},
        {"not measured everywhere", not_measured, not_measured, 100.0, not_measured},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<response_row> rows = points_rows(points_flat, c.snr_low);
        for (response_row& r : rows)
            if (r.hz > 5000.0)
                r.snr_db = c.snr_high;
        const std::vector<response_point> points = response_points(rows, 20.0, 20000.0);
        const response_point* p = nullptr;
        for (const response_point& q : points)
            if (std::fabs(std::log2(q.hz / c.hz)) < 1.0 / 48.0)
                p = &q;
        ASSERT_NE(p, nullptr);
        if (std::isnan(c.expect))
            EXPECT_TRUE(std::isnan(p->uncertainty_db));
        else
            EXPECT_NEAR(p->uncertainty_db, c.expect, 1e-12);
    }
}
