// The response's points 1/24 octave apart, with their uncertainties.
#include "analysis/response_points.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

double response_level_uncertainty_db(double snr_db)
{
    if (!std::isfinite(snr_db))
        return std::numeric_limits<double>::quiet_NaN();
    return 20.0 / std::numbers::ln10 / std::sqrt(2.0 * std::pow(10.0, snr_db / 10.0));
}

std::vector<response_point> response_points(std::span<const response_row> rows, double low_hz, double high_hz)
{
    std::vector<response_point> points;
    if (rows.size() < 2 || rows.front().hz > low_hz || rows.back().hz < high_hz)
        return points;
    const auto reference = std::min_element(rows.begin(), rows.end(), [](const response_row& a, const response_row& b) {
        return std::fabs(a.hz - 1000.0) < std::fabs(b.hz - 1000.0);
    });
    const double u_reference = response_level_uncertainty_db(reference->snr_db);
    const double half = std::pow(2.0, 0.5 / response_points_per_octave);
    const long first = std::lrint(std::ceil(response_points_per_octave * std::log2(low_hz / 1000.0) - 1e-9));
    const long last = std::lrint(std::floor(response_points_per_octave * std::log2(high_hz / 1000.0) + 1e-9));
    for (long n = first; n <= last; n++) {
        response_point p;
        p.hz = 1000.0 * std::pow(2.0, static_cast<double>(n) / response_points_per_octave);
        double level = 0.0, u = 0.0;
        int count = 0;
        for (const response_row& r : rows)
            if (r.hz >= p.hz / half && r.hz < p.hz * half)
                level += r.level_db, u += response_level_uncertainty_db(r.snr_db), count++;
        if (count >= 2) {
            p.level_db = level / count;
            u /= count;
        } else {
            // One row or none within the step: the line between the rows either side (in order, 11.7 Hz apart).
            auto above = std::lower_bound(rows.begin(), rows.end(), p.hz,
                                          [](const response_row& r, double hz) { return r.hz < hz; });
            above = std::clamp(above, rows.begin() + 1, rows.end() - 1);
            const auto below = above - 1;
            const double t = (p.hz - below->hz) / (above->hz - below->hz);
            p.level_db = below->level_db + t * (above->level_db - below->level_db);
            u = std::max(response_level_uncertainty_db(below->snr_db), response_level_uncertainty_db(above->snr_db));
        }
        p.uncertainty_db = std::hypot(u, u_reference);
        points.push_back(p);
    }
    return points;
}
