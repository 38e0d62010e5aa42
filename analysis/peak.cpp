// The peak, its fine position, the noise and the next peak.
#include "analysis/peak.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace {

// The band-limited signal and its first two derivatives at t, from the bins
// that the band window leaves non-zero.
struct signal_point {
    double value = 0.0, slope = 0.0, curvature = 0.0;
};

signal_point signal_point_at(std::span<const std::complex<double>> bins, int64_t frames, double t)
{
    const double n = static_cast<double>(frames);
    size_t first = 0, last = bins.size();
    while (first < last && bins[first] == 0.0)
        first++;
    while (last > first && bins[last - 1] == 0.0)
        last--;
    // The rotation e^(i 2 pi k t / n) by one bin at a time: the rounding it
    // gathers over a million bins stays near 1e-10, far below the noise.
    const double step = 2.0 * std::numbers::pi * t / n;
    const std::complex<double> turn = std::polar(1.0, step);
    std::complex<double> rotation = std::polar(1.0, step * static_cast<double>(first));
    double value = 0.0, slope = 0.0, curvature = 0.0;
    for (size_t k = first; k < last; k++) {
        const double omega = 2.0 * std::numbers::pi * static_cast<double>(k) / n;
        const std::complex<double> z = bins[k] * rotation;
        value += z.real();
        slope -= omega * z.imag();
        curvature -= omega * omega * z.real();
        rotation *= turn;
    }
    // Both halves of the spectrum (DC and Nyquist are 0).
    const double scale = 2.0 / n;
    return {value * scale, slope * scale, curvature * scale};
}

}  // namespace

int64_t peak_index(std::span<const double> ir, int64_t first, int64_t last)
{
    int64_t best = first;
    for (int64_t k = first; k <= last; k++)
        if (std::fabs(ir[k]) > std::fabs(ir[best]))
            best = k;
    return best;
}

double ir_at(const impulse_response& r, double t) { return signal_point_at(r.banded, r.n, t).value; }

double peak_position(const impulse_response& r, int64_t p)
{
    const double sign = r.ir[p] < 0.0 ? -1.0 : 1.0;
    return peak_position_of(r.banded, r.n, static_cast<double>(p), sign, 1.0);
}

double peak_position_of(std::span<const std::complex<double>> bins, int64_t n, double near, double sign, double reach)
{
    // The bracket [low, high] holds a zero of the slope: rising (for the sign)
    // at low, falling at high. The neighbours of a largest tap make one; a
    // broader pulse (a narrower band) may need a wider one, up to reach.
    double low = near - 1.0, high = near + 1.0;
    for (double width = 1.0;; width *= 2.0) {
        low = near - width, high = near + width;
        if (sign * signal_point_at(bins, n, low).slope > 0.0 && sign * signal_point_at(bins, n, high).slope < 0.0)
            break;
        if (width * 2.0 > reach)
            return near;
    }
    double t = 0.5 * (low + high);
    for (int i = 0; i < 60 && high - low > 1e-9; i++) {
        const signal_point s = signal_point_at(bins, n, t);
        if (sign * s.slope > 0.0)
            low = t;
        else
            high = t;
        double next = t - s.slope / s.curvature;
        // Newton's step when it stays inside the bracket and heads for a
        // maximum (of sign x signal); else halve the bracket.
        if (!(sign * s.curvature < 0.0) || !(next > low && next < high))
            next = 0.5 * (low + high);
        if (std::fabs(next - t) < 1e-10)
            return next;
        t = next;
    }
    return t;
}

double noise_level(std::span<const double> ir, int64_t first, int64_t last, int64_t centre, int64_t exclude)
{
    std::vector<double> magnitudes;
    magnitudes.reserve(static_cast<size_t>(std::max<int64_t>(0, last - first + 1)));
    for (int64_t k = first; k <= last; k++)
        if (std::llabs(k - centre) > exclude)
            magnitudes.push_back(std::fabs(ir[k]));
    if (magnitudes.empty())
        return 0.0;
    const auto middle = magnitudes.begin() + static_cast<std::ptrdiff_t>(magnitudes.size() / 2);
    std::nth_element(magnitudes.begin(), middle, magnitudes.end());
    return 1.4826 * *middle;
}

int64_t next_peak_index(std::span<const double> ir, int64_t first, int64_t last, int64_t centre, int64_t exclude)
{
    int64_t best = -1;
    for (int64_t k = first; k <= last; k++)
        if (std::llabs(k - centre) > exclude && (best < 0 || std::fabs(ir[k]) > std::fabs(ir[best])))
            best = k;
    return best;
}
