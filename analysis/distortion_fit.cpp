// A tone between bins through Hann: its closed form, its fit, its removal.
#include "analysis/distortion_fit.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// 1 - e^(i theta), without the cancellation of the difference for small theta.
std::complex<double> fit_one_minus_turn(double theta)
{
    return std::complex<double>(0.0, -2.0 * std::sin(theta / 2.0)) * std::polar(1.0, theta / 2.0);
}

// G(u) / n; n at whole u of a multiple of n, 0 at every other whole u.
std::complex<double> fit_dirichlet(double u, int64_t n)
{
    const double whole = std::nearbyint(u);
    const double size = static_cast<double>(n);
    if (u == whole)
        return std::fmod(whole, size) == 0.0 ? 1.0 : 0.0;
    const double turn = 2.0 * std::numbers::pi;
    return fit_one_minus_turn(turn * u) / fit_one_minus_turn(turn * u / size) / size;
}

}  // namespace

std::complex<double> distortion_hann_response(double u, int64_t n)
{
    return 0.5 * fit_dirichlet(u, n) - 0.25 * fit_dirichlet(u + 1.0, n) - 0.25 * fit_dirichlet(u - 1.0, n);
}

double distortion_offset_hann(const distortion_block& b, int64_t bin)
{
    if (bin <= 1 || bin >= b.n / 2 - 1)
        return 0.0;
    const double centre = std::abs(b.hann[static_cast<size_t>(bin)]);
    if (!(centre > 0.0))
        return 0.0;
    const double above = std::abs(b.hann[static_cast<size_t>(bin + 1)]) / centre;
    const double below = std::abs(b.hann[static_cast<size_t>(bin - 1)]) / centre;
    return 0.5 * ((2.0 * above - 1.0) / (1.0 + above) - (2.0 * below - 1.0) / (1.0 + below));
}

distortion_tone distortion_fit(const distortion_block& b, int64_t bin, double offset)
{
    // Hann's bin j holds (phasor / 2) n h(bin + offset - j): least squares
    // over the three bins.
    distortion_tone t{bin, offset, 0.0};
    if (bin <= 1 || bin >= b.n / 2 - 1)
        return t;
    std::complex<double> dot = 0.0;
    double norm = 0.0;
    for (int64_t j = bin - 1; j <= bin + 1; j++) {
        const std::complex<double> h = distortion_hann_response(static_cast<double>(bin - j) + offset, b.n);
        dot += std::conj(h) * b.hann[static_cast<size_t>(j)];
        norm += std::norm(h);
    }
    t.phasor = norm > 0.0 ? 2.0 * dot / (norm * static_cast<double>(b.n)) : 0.0;
    return t;
}

void distortion_take_out(distortion_block& b, const distortion_tone& t)
{
    const std::complex<double> half = 0.5 * t.phasor * static_cast<double>(b.n);
    const int64_t first = std::max<int64_t>(1, t.bin - distortion_fit_reach);
    const int64_t last = std::min<int64_t>(b.n / 2 - 1, t.bin + distortion_fit_reach);
    for (int64_t j = first; j <= last; j++)
        b.hann[static_cast<size_t>(j)] -=
            half * distortion_hann_response(static_cast<double>(t.bin - j) + t.offset, b.n);
}
