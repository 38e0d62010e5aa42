// The drift by batch means: batches of a doubling length, each its own
// least-squares slope; the figure their mean, the uncertainty their scatter.
#include "analysis/monitor_drift.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Two batches' lines as one (Chan's pairwise update of the co-moments).
monitor_drift_batch drift_merged(const monitor_drift_batch& a, const monitor_drift_batch& b)
{
    if (a.n == 0)
        return b;
    if (b.n == 0)
        return a;
    monitor_drift_batch m;
    m.n = a.n + b.n;
    const double na = static_cast<double>(a.n), nb = static_cast<double>(b.n), n = static_cast<double>(m.n);
    const double dt = b.mean_t - a.mean_t, dd = b.mean_delay - a.mean_delay, w = na * nb / n;
    m.mean_t = a.mean_t + dt * nb / n;
    m.mean_delay = a.mean_delay + dd * nb / n;
    m.tt = a.tt + b.tt + dt * dt * w;
    m.td = a.td + b.td + dt * dd * w;
    m.dd = a.dd + b.dd + dd * dd * w;
    m.first_t = a.first_t;
    m.last_t = b.last_t;
    return m;
}

}  // namespace

monitor_drift monitor_drift_make(int64_t first_length)
{
    monitor_drift s;
    s.first_length = s.length = std::max<int64_t>(2, first_length);
    return s;
}

void monitor_drift_restart(monitor_drift& s) { s = monitor_drift_make(s.first_length); }

void monitor_drift_add(monitor_drift& s, double t, double delay)
{
    monitor_drift_batch& b = s.batches[static_cast<size_t>(s.full)];
    if (b.n == 0)
        b.first_t = t;
    b.last_t = t;
    b.n++;
    const double n = static_cast<double>(b.n), dt = t - b.mean_t, dd = delay - b.mean_delay;
    b.mean_t += dt / n;
    b.mean_delay += dd / n;
    b.tt += dt * (t - b.mean_t);
    b.td += dt * (delay - b.mean_delay);
    b.dd += dd * (delay - b.mean_delay);
    if (b.n < s.length || ++s.full < monitor_drift_batches)
        return;
    // All full: neighbours merge, and the batches to come hold twice as many.
    constexpr int half = monitor_drift_batches / 2;
    for (int i = 0; i < half; i++)
        s.batches[static_cast<size_t>(i)] =
            drift_merged(s.batches[static_cast<size_t>(2 * i)], s.batches[static_cast<size_t>(2 * i + 1)]);
    std::fill(s.batches.begin() + half, s.batches.end(), monitor_drift_batch{});
    s.full = half;
    s.length *= 2;
}

monitor_drift_figure monitor_drift_estimate(const monitor_drift& s)
{
    monitor_drift_figure f;
    if (s.full < monitor_drift_least_batches) {
        // Too few batches for a spread: the line through everything so far, with no uncertainty.
        monitor_drift_batch all;
        for (const monitor_drift_batch& b : s.batches)
            all = drift_merged(all, b);
        if (all.n >= 2 && all.tt > 0.0)
            f.ppm = 1e6 * all.td / all.tt;
        return f;
    }
    // The figure is the mean of the full batches' slopes, not the slope of
    // one line through all of them. Under the measurement's white noise alone
    // that line would be about as many times more precise as there are
    // batches, but nothing in the batches can show that the clocks do not
    // wander at that level, so its uncertainty could only be claimed, never
    // measured. Under wander, which is what a long run meets, the two weigh
    // the clocks' rate alike (each slope is a parabola-weighted mean of the
    // rate over its span) and are as precise; and the mean of the slopes is
    // exactly what their scatter gives the error of. The partly filled batch
    // waits until it is full: every batch of the mean has the same count.
    // What the scatter cannot see: an error of the measured delay that
    // repeats about once a batch, alike in every batch (at a steady 100 ppm
    // slide a fractional delay's error repeats every 10000 frames; the
    // synthetic captures of the tests show 0.002 ppm of it, 4 sigma).
    double sum = 0.0, span = 0.0, resolved = 0.0;
    for (int i = 0; i < s.full; i++) {
        const monitor_drift_batch& b = s.batches[static_cast<size_t>(i)];
        sum += b.td / b.tt;
        span += b.last_t - b.first_t;
        // What the rounding of the delays themselves leaves in the slope: on
        // a clean digital path the batches' slopes agree to their last bits,
        // and their scatter would say that the drift is known exactly.
        resolved = std::max(resolved, std::fabs(b.mean_delay) / std::sqrt(b.tt));
    }
    const double k = static_cast<double>(s.full), mean = sum / k;
    double scatter = 0.0;
    for (int i = 0; i < s.full; i++) {
        const monitor_drift_batch& b = s.batches[static_cast<size_t>(i)];
        scatter += (b.td / b.tt - mean) * (b.td / b.tt - mean);
    }
    resolved = 4.0 * std::numeric_limits<double>::epsilon() * (resolved + std::fabs(mean));
    const double sigma = std::max(resolved, std::sqrt(scatter / (k - 1.0) / k));
    f.ppm = 1e6 * mean;
    f.sigma_ppm = 1e6 * sigma;
    f.interval_ppm = monitor_drift_t95(s.full - 1) * f.sigma_ppm;
    f.batches = s.full;
    f.batch_frames = span / k;
    return f;
}

double monitor_drift_t95(int dof)
{
    static_assert(monitor_drift_batches == 16, "the table holds 1 .. 15 degrees of freedom");
    static constexpr std::array<double, monitor_drift_batches - 1> quantiles{12.7062, 4.3027, 3.1824, 2.7764, 2.5706,
                                                                             2.4469,  2.3646, 2.3060, 2.2622, 2.2281,
                                                                             2.2010,  2.1788, 2.1604, 2.1448, 2.1314};
    return quantiles[static_cast<size_t>(std::clamp(dof, 1, monitor_drift_batches - 1) - 1)];
}
