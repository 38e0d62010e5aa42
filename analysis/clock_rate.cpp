// The rate of the interface's clock against the system's: a line of time
// against frames, broken at each xrun.
#include "analysis/clock_rate.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int64_t least_segment = 3;  // points a segment needs to bring a slope
constexpr int64_t least_points = 10;
constexpr double outlier_sds = 5.0;
// The jackknife's blocks: a scheduler's lateness comes in spells (another
// process busy for a second), which the residuals' lag-one correlation
// does not see; the slope's spread over the fits that leave out one
// contiguous block in turn does. 10 blocks, Student's t at 9 degrees of freedom.
constexpr int jackknife_blocks = 10;
constexpr double jackknife_t95 = 2.262;

struct segment {
    size_t first = 0, last = 0;  // the points [first, last)
};

// The segments between breaks, of at least least_segment points each.
std::vector<segment> segments_of(std::span<const clock_point> p)
{
    std::vector<segment> all;
    size_t first = 0;
    for (size_t i = 1; i <= p.size(); i++)
        if (i == p.size() || p[i].breaks) {
            if (static_cast<int64_t>(i - first) >= least_segment)
                all.push_back({first, i});
            first = i;
        }
    return all;
}

struct line_fit {
    double slope = 0.0;  // seconds per frame
    double sff = 0.0;    // the frames' sum of squares about the segments' means
    double span_s = 0.0;
    int64_t used = 0;
    int segments = 0;
    std::vector<double> residual;  // seconds, per point (0 where not used)
    std::vector<char> used_at;
};

// The shared slope of time against frames over the segments, each with its
// own mean, on the points keep allows. Times and frames are taken from the
// first point so that the sums stay small.
line_fit fit(std::span<const clock_point> p, const std::vector<segment>& segs, const std::vector<char>& keep)
{
    line_fit f;
    f.residual.assign(p.size(), 0.0);
    f.used_at.assign(p.size(), 0);
    const int64_t ns0 = p.front().ns, frame0 = p.front().frame;
    const auto t_of = [&](size_t i) { return static_cast<double>(p[i].ns - ns0) * 1e-9; };
    const auto x_of = [&](size_t i) { return static_cast<double>(p[i].frame - frame0); };
    std::vector<double> mean_x(segs.size(), 0.0), mean_t(segs.size(), 0.0);
    std::vector<int64_t> n(segs.size(), 0);
    double sft = 0.0;
    for (size_t s = 0; s < segs.size(); s++) {
        for (size_t i = segs[s].first; i < segs[s].last; i++)
            if (keep[i])
                mean_x[s] += x_of(i), mean_t[s] += t_of(i), n[s]++;
        if (n[s] < least_segment)
            continue;
        mean_x[s] /= static_cast<double>(n[s]), mean_t[s] /= static_cast<double>(n[s]);
        double first_t = 0.0, last_t = 0.0;
        bool any = false;
        for (size_t i = segs[s].first; i < segs[s].last; i++)
            if (keep[i]) {
                const double dx = x_of(i) - mean_x[s];
                f.sff += dx * dx, sft += dx * (t_of(i) - mean_t[s]);
                f.used_at[i] = 1;
                first_t = any ? first_t : t_of(i), last_t = t_of(i), any = true;
            }
        f.span_s += last_t - first_t;
        f.used += n[s];
        f.segments++;
    }
    if (f.sff <= 0.0)
        return f;
    f.slope = sft / f.sff;
    for (size_t s = 0; s < segs.size(); s++)
        for (size_t i = segs[s].first; i < segs[s].last; i++)
            if (f.used_at[i])
                f.residual[i] = (t_of(i) - mean_t[s]) - f.slope * (x_of(i) - mean_x[s]);
    return f;
}

}  // namespace

clock_rate clock_rate_fit(std::span<const clock_point> p, double nominal_rate, double least_s)
{
    clock_rate r;
    if (!std::isfinite(nominal_rate) || nominal_rate <= 0.0) {
        r.error = "the nominal rate is not a positive number";
        return r;
    }
    const std::vector<segment> segs = segments_of(p);
    std::vector<char> keep(p.size(), 1);
    line_fit f = segs.empty() ? line_fit{} : fit(p, segs, keep);
    if (f.used >= least_points && f.sff > 0.0) {
        // A robust spread of the residuals (their median absolute value),
        // and the points far beyond it set aside: one-sided, late wake-ups.
        std::vector<double> size;
        for (size_t i = 0; i < p.size(); i++)
            if (f.used_at[i])
                size.push_back(std::fabs(f.residual[i]));
        std::nth_element(size.begin(), size.begin() + static_cast<std::ptrdiff_t>(size.size() / 2), size.end());
        const double limit = outlier_sds * 1.4826 * size[size.size() / 2];
        if (limit > 0.0) {
            for (size_t i = 0; i < p.size(); i++)
                if (f.used_at[i] && std::fabs(f.residual[i]) > limit)
                    keep[i] = 0, r.outliers++;
            if (r.outliers > 0)
                f = fit(p, segs, keep);
        }
    }
    r.points = f.used, r.segments = f.segments, r.span_s = f.span_s;
    if (f.used < least_points || f.sff <= 0.0 || f.slope <= 0.0) {
        r.error = "too few callbacks timed (" + std::to_string(f.used) + ")";
        return r;
    }
    if (f.span_s < least_s) {
        char text[96];
        std::snprintf(text, sizeof text, "too short: the stream's clock was timed over %.1f s, less than %g s",
                      f.span_s, least_s);
        r.error = text;
        return r;
    }
    double ssr = 0.0, lag = 0.0;
    for (size_t i = 0; i < p.size(); i++)
        if (f.used_at[i]) {
            ssr += f.residual[i] * f.residual[i];
            if (i > 0 && f.used_at[i - 1] && !p[i].breaks)
                lag += f.residual[i] * f.residual[i - 1];
        }
    const double dof = static_cast<double>(f.used - f.segments - 1);
    const double var = ssr / std::max(1.0, dof);
    const double rho = ssr > 0.0 ? std::clamp(lag / ssr, 0.0, 0.95) : 0.0;
    const double se = std::sqrt(var / f.sff * (1.0 + rho) / (1.0 - rho));  // seconds per frame
    double half = 2.0 * se;
    if (f.used >= 5 * jackknife_blocks) {
        std::vector<size_t> used;
        for (size_t i = 0; i < p.size(); i++)
            if (f.used_at[i])
                used.push_back(i);
        std::vector<double> slopes;
        for (int b = 0; b < jackknife_blocks; b++) {
            std::vector<char> left = keep;
            const size_t from = used.size() * static_cast<size_t>(b) / jackknife_blocks,
                         to = used.size() * static_cast<size_t>(b + 1) / jackknife_blocks;
            for (size_t k = from; k < to; k++)
                left[used[k]] = 0;
            const line_fit g = fit(p, segs, left);
            if (g.sff > 0.0)
                slopes.push_back(g.slope);
        }
        if (slopes.size() == static_cast<size_t>(jackknife_blocks)) {
            double mean = 0.0, ss = 0.0;
            for (const double b : slopes)
                mean += b / jackknife_blocks;
            for (const double b : slopes)
                ss += (b - mean) * (b - mean);
            const double jack_se = std::sqrt((jackknife_blocks - 1.0) / jackknife_blocks * ss);
            half = std::max(half, jackknife_t95 * jack_se);
        }
    }
    r.error.clear();
    r.rate_hz = 1.0 / f.slope;
    r.ppm = (r.rate_hz / nominal_rate - 1.0) * 1e6;
    r.ppm_uncertainty = half / f.slope * 1e6;
    return r;
}
