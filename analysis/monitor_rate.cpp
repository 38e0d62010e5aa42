// The rate's steps: two lines a span each, their slopes' difference against its spread.
#include "analysis/monitor_rate.hpp"

#include <algorithm>
#include <cmath>

namespace {

// The median of chi-square with one degree of freedom: a Gaussian
// difference's median square is 0.455 of its mean square.
constexpr double median_square = 0.4549;

struct rate_line {
    double slope = 0.0, at = 0.0, rss = 0.0, stt = 0.0;  // at: the value at the origin given
};

rate_line rate_fit(const monitor_rate& w, int first, int count, double origin)
{
    double mt = 0.0, md = 0.0;
    const int size = 2 * monitor_rate_most_span;
    for (int i = 0; i < count; i++) {
        const int k = (first + i) % size;
        mt += w.t[static_cast<size_t>(k)] - origin;
        md += w.delay[static_cast<size_t>(k)];
    }
    mt /= count, md /= count;
    double stt = 0.0, std_ = 0.0, sdd = 0.0;
    for (int i = 0; i < count; i++) {
        const int k = (first + i) % size;
        const double dt = w.t[static_cast<size_t>(k)] - origin - mt, dd = w.delay[static_cast<size_t>(k)] - md;
        stt += dt * dt, std_ += dt * dd, sdd += dd * dd;
    }
    rate_line l;
    l.stt = stt;
    l.slope = stt > 0.0 ? std_ / stt : 0.0;
    l.at = md - l.slope * mt;
    l.rss = std::max(0.0, sdd - l.slope * std_);
    return l;
}

bool rate_warm(const monitor_rate& w) { return w.learnt_count >= monitor_rate_warm_spans; }

double rate_wander_square(const monitor_rate& w)
{
    const int n = std::min(w.learnt_count, monitor_rate_memory);
    if (n == 0)
        return 0.0;
    std::array<double, monitor_rate_memory> sorted = w.learnt;
    std::nth_element(sorted.begin(), sorted.begin() + n / 2, sorted.begin() + n);
    return sorted[static_cast<size_t>(n / 2)] / median_square;
}

}  // namespace

monitor_rate monitor_rate_make(int span)
{
    monitor_rate w;
    w.span = std::clamp(span, 4, monitor_rate_most_span);
    return w;
}

void monitor_rate_clear(monitor_rate& w)
{
    w.count = w.head = w.since_learnt = 0;
    w.peak = {};
    w.peak_size = w.peak_measured = 0.0;
    w.peak_age = 0;
}

double monitor_rate_threshold(const monitor_rate& w, double measurement_spread)
{
    const double spread = std::sqrt(std::max(rate_wander_square(w), measurement_spread * measurement_spread));
    return std::max(monitor_rate_sigmas * spread, monitor_rate_least_ppm * 1e-6);
}

monitor_rate_step monitor_rate_add(monitor_rate& w, double t, double delay)
{
    const int size = 2 * monitor_rate_most_span;
    w.t[static_cast<size_t>(w.head)] = t;
    w.delay[static_cast<size_t>(w.head)] = delay;
    w.head = (w.head + 1) % size;
    w.count = std::min(w.count + 1, 2 * w.span);
    w.held_off = std::max(0, w.held_off - 1);
    monitor_rate_step due;
    if (w.count < 2 * w.span)
        return due;
    const int first = (w.head - 2 * w.span + size) % size;
    const int middle = (first + w.span) % size;
    const double origin =
        0.5 * (w.t[static_cast<size_t>((middle - 1 + size) % size)] + w.t[static_cast<size_t>(middle)]);
    const rate_line a = rate_fit(w, first, w.span, origin), b = rate_fit(w, middle, w.span, origin);
    const double difference = b.slope - a.slope;
    const double point = std::sqrt((a.rss + b.rss) / (2.0 * w.span - 4.0));
    const double measured = point * std::sqrt(1.0 / a.stt + 1.0 / b.stt);
    // The wander's spread: a difference a span apart, clipped at the threshold.
    if (++w.since_learnt >= w.span) {
        w.since_learnt = 0;
        const double limit = rate_warm(w) ? monitor_rate_threshold(w, measured) : INFINITY;
        w.learnt[static_cast<size_t>(w.learnt_count % monitor_rate_memory)] =
            std::min(difference * difference, limit * limit);
        w.learnt_count++;
    }
    // The largest difference over the measurement's own threshold, until it falls away.
    const double size_now = std::fabs(difference);
    if (w.held_off == 0 && size_now > monitor_rate_sigmas * measured && size_now > monitor_rate_least_ppm * 1e-6 &&
        size_now > w.peak_size) {
        w.peak.found = true;
        w.peak.before = a.slope, w.peak.after = b.slope;
        const double meet = b.slope != a.slope ? (a.at - b.at) / (b.slope - a.slope) : 0.0;
        const double low = w.t[static_cast<size_t>(first)] - origin;
        const double high = w.t[static_cast<size_t>((w.head - 1 + size) % size)] - origin;
        w.peak.frame = origin + std::clamp(meet, low, high);
        w.peak_size = size_now, w.peak_measured = measured, w.peak_age = 0;
        return due;
    }
    if (w.peak_size == 0.0 || !rate_warm(w) || (++w.peak_age < w.span && size_now > 0.5 * w.peak_size))
        return due;
    // The peak is past: a step when it stands out from the wander too.
    if (w.peak_size > monitor_rate_threshold(w, w.peak_measured)) {
        due = w.peak;
        w.held_off = 2 * w.span;
    }
    w.peak = {};
    w.peak_size = 0.0;
    return due;
}
