// Readings against their local noise; ratios, sums and RSS of them; the
// spread of a tone between bins.
#include "analysis/distortion_floor.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <numbers>
#include <vector>

#include "analysis/distortion_fit.hpp"
#include "analysis/tones.hpp"
#include "analysis/weighting.hpp"

namespace {

constexpr double floor_hann_mean_square = 0.375;

// components sorted.
bool floor_near_any(int64_t k, std::span<const int64_t> components)
{
    const auto c = std::lower_bound(components.begin(), components.end(), k - distortion_floor_clear);
    return c != components.end() && *c <= k + distortion_floor_clear;
}

double floor_power_of(const distortion_block& b, int64_t k)
{
    return std::norm(b.hann[static_cast<size_t>(k)]) / floor_hann_mean_square;
}

// The peak amplitude a three bins' power p reads as (distortion_amplitude's scale).
double floor_amplitude(const distortion_block& b, double p) { return 2.0 * std::sqrt(p) / static_cast<double>(b.n); }

double floor_margin_gain() { return std::pow(10.0, distortion_bound_margin_db / 20.0); }

}  // namespace

double distortion_local_power(const distortion_block& b, int64_t bin, std::span<const int64_t> components)
{
    std::vector<double> powers;
    int64_t counted[2] = {0, 0};
    // Outward on each side until enough clear bins, or the spectrum's end, or
    // 8 times as far as asked (a crowd of components).
    for (int side = 0; side < 2; side++)
        for (int64_t d = 3; d <= 8 * distortion_floor_bins && counted[side] < distortion_floor_bins; d++) {
            const int64_t k = side == 0 ? bin - d : bin + d;
            if (k <= 0 || k >= b.n / 2)
                break;
            if (floor_near_any(k, components))
                continue;
            powers.push_back(floor_power_of(b, k));
            counted[side]++;
        }
    if (powers.empty())
        return 0.0;
    // The median over ln 2: a bin of noise has an exponential power, whose
    // median is its mean x ln 2; a hum harmonic or an idle tone among them,
    // a few bins, does not lift it as it would the mean.
    const auto middle = powers.begin() + static_cast<std::ptrdiff_t>(powers.size() / 2);
    std::nth_element(powers.begin(), middle, powers.end());
    return *middle / std::numbers::ln2;
}

distortion_reading distortion_read(const distortion_block& b, int64_t bin, std::span<const int64_t> components)
{
    distortion_reading r;
    r.amplitude = distortion_amplitude(b, bin);
    r.floor = floor_amplitude(b, 3.0 * distortion_local_power(b, bin, components));
    r.bound = r.amplitude < r.floor * floor_margin_gain();
    return r;
}

void distortion_raise_floor(distortion_reading& r, double floor)
{
    r.floor = std::max(r.floor, floor);
    r.bound = r.bound || r.amplitude < r.floor * floor_margin_gain();
}

distortion_reading distortion_read_coherent(const distortion_block& b, int64_t bin, std::span<const int64_t> components,
                                            double offset)
{
    distortion_reading r = distortion_read(b, bin, components);
    if (r.bound || bin <= 1 || bin >= b.n / 2 - 1)
        return r;
    // The bins' power beyond their projection on the tone's shape.
    std::complex<double> dot = 0.0;
    double shape = 0.0, power = 0.0;
    for (int64_t j = bin - 1; j <= bin + 1; j++) {
        const std::complex<double> h = distortion_hann_response(static_cast<double>(bin - j) + offset, b.n);
        const std::complex<double> x = b.hann[static_cast<size_t>(j)];
        dot += std::conj(h) * x, shape += std::norm(h), power += std::norm(x);
    }
    const double beyond = std::max(0.0, power - std::norm(dot) / shape) / floor_hann_mean_square;
    const double noise = std::pow(r.floor * static_cast<double>(b.n) / 2.0, 2);  // three bins' power
    if (beyond > distortion_shape_share * power / floor_hann_mean_square && beyond > 10.0 * noise)
        r.bound = true;
    return r;
}

double distortion_reported(const distortion_reading& r)
{
    return r.bound ? std::max(r.amplitude, r.floor * floor_margin_gain()) : r.amplitude;
}

distortion_figure distortion_ratio(const distortion_reading& r, double reference)
{
    if (!(reference > 0.0))
        return {};
    return {distortion_reported(r) / reference, r.floor / reference, r.bound, r.bound};
}

distortion_figure distortion_rss(std::span<const distortion_reading> r, double reference)
{
    if (!(reference > 0.0))
        return {};
    double measured = 0.0, noise = 0.0, bounds = 0.0, floors = 0.0;
    for (const distortion_reading& x : r) {
        (x.bound ? noise : measured) += x.amplitude * x.amplitude;
        if (x.bound)
            bounds += std::pow(distortion_reported(x), 2);
        floors += x.floor * x.floor;
    }
    distortion_figure f;
    f.bound = noise > 0.0 && noise >= measured;
    f.noise_limited = noise > 0.0 && noise >= 0.1 * (measured + noise);
    f.ratio = std::sqrt(f.bound ? measured + bounds : measured + noise) / reference;
    f.floor = std::sqrt(floors) / reference;
    return f;
}

distortion_figure distortion_sum(std::span<const distortion_reading> r, double reference)
{
    if (!(reference > 0.0))
        return {};
    double measured = 0.0, noise = 0.0, bounds = 0.0, floors = 0.0;
    for (const distortion_reading& x : r) {
        (x.bound ? noise : measured) += x.amplitude;
        if (x.bound)
            bounds += distortion_reported(x);
        floors += x.floor;
    }
    distortion_figure f;
    f.bound = noise > 0.0 && noise >= measured;
    // A tenth of the power: the noise's share of the sum above 1 - sqrt(0.9).
    f.noise_limited = noise > 0.0 && noise >= (1.0 - std::sqrt(0.9)) * (measured + noise);
    f.ratio = (f.bound ? measured + bounds : measured + noise) / reference;
    f.floor = floors / reference;
    return f;
}

double distortion_offbin_spread(const distortion_block& b, int64_t bin, double offset_bins, bool a_weighted)
{
    // Ratio to the tone's RMS as distortion_band_rms takes it: the tone of
    // amplitude A puts (A/2) n h(u) in Hann's bin j, u = bin + d - j, so
    // sqrt(sum |n h|^2 x 2 / (3/8)) / n over A / sqrt 2. Beyond
    // distortion_fit_reach bins the spread's power is below 1e-15 of what
    // the two bins beyond the notch hold: left out.
    if (bin <= 0 || bin >= b.n / 2 || std::fabs(offset_bins - std::nearbyint(offset_bins)) < 1e-12)
        return 0.0;
    double power = 0.0;
    const int64_t first = std::max<int64_t>(1, bin - distortion_fit_reach);
    const int64_t last = std::min<int64_t>(b.n / 2 - 1, bin + distortion_fit_reach);
    for (int64_t j = first; j <= last; j++) {
        if (std::llabs(j - bin) <= distortion_notch_bins)
            continue;
        const double hz = tones_hz(j, b.rate, b.n);
        if (weighting_band(hz) == 0.0)
            continue;
        const double w = a_weighted ? weighting_a_gain(hz) : 1.0;
        power += w * w * std::norm(distortion_hann_response(static_cast<double>(bin - j) + offset_bins, b.n));
    }
    return std::sqrt(power / floor_hann_mean_square);
}
