// Tones, notch, band power, harmonics and intermodulation on a coherent block.
#include "analysis/distortion.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

#include "analysis/tones.hpp"
#include "analysis/weighting.hpp"

namespace {

bool notched(int64_t k, std::span<const int64_t> notch)
{
    return std::any_of(notch.begin(), notch.end(),
                       [k](int64_t c) { return k >= c - distortion_notch_bins && k <= c + distortion_notch_bins; });
}

// The periodic Hann window, 0 at m = 0: 1/2 - (e^(i 2 pi m/n) + e^(-i 2 pi m/n))/4,
// whose transform is three bins: 1/2 on the centre, -1/4 either side. So the
// windowed transform is the plain one's bins, each less a quarter of its two
// neighbours (the real frames' bins beyond 0 and n/2 are the conjugates of
// those within): no second transform, and no cosine a frame. The difference
// from windowing the frames is the transforms' own rounding, some 300 dB
// below a full-scale tone.
spectrum hann_of(const spectrum& x)
{
    const size_t half = x.size() - 1;  // n / 2
    spectrum h(x.size());
    for (size_t k = 0; k <= half; k++) {
        const std::complex<double> below = k == 0 ? std::conj(x[1]) : x[k - 1];
        const std::complex<double> above = k == half ? std::conj(x[half - 1]) : x[k + 1];
        h[k] = 0.5 * x[k] - 0.25 * (below + above);
    }
    return h;
}
constexpr double hann_mean_square = 0.375;

bool in_band(const distortion_block& b, int64_t bin)
{
    return bin > 0 && bin < b.n / 2 && weighting_band(tones_hz(bin, b.rate, b.n)) > 0.0;
}

}  // namespace

distortion_block distortion_block_of(std::span<const float> frames, int64_t n, double rate)
{
    spectrum plain = spectrum_of(frames.first(static_cast<size_t>(n)), n);
    spectrum hann = hann_of(plain);
    return {n, rate, std::move(plain), std::move(hann)};
}

std::complex<double> distortion_phasor(const distortion_block& b, int64_t bin)
{
    if (bin <= 0 || bin >= b.n / 2)
        return 0.0;
    return 2.0 * b.bins[static_cast<size_t>(bin)] / static_cast<double>(b.n);
}

double distortion_amplitude(const distortion_block& b, int64_t bin)
{
    if (bin <= 0 || bin >= b.n / 2)
        return 0.0;
    double power = 0.0;
    for (int64_t k = bin - 1; k <= bin + 1; k++)
        power += std::norm(b.hann[static_cast<size_t>(k)]);
    return 2.0 * std::sqrt(power / hann_mean_square) / static_cast<double>(b.n);
}

double distortion_band_rms(const distortion_block& b, bool a_weighted, std::span<const int64_t> notch)
{
    // Parseval over the half spectrum: a bin k (0 < k < n/2) holds half of a
    // real component's power, |X_k|^2 x 2 / n^2, here through the window, whose
    // mean square is 3/8. Bins 0 and n/2 lie outside the band at every rate.
    double power = 0.0;
    for (int64_t k = 1; k < b.n / 2; k++) {
        const double hz = tones_hz(k, b.rate, b.n);
        if (weighting_band(hz) == 0.0 || notched(k, notch))
            continue;
        const double g = a_weighted ? weighting_a_gain(hz) : 1.0;
        power += g * g * std::norm(b.hann[static_cast<size_t>(k)]);
    }
    return std::sqrt(2.0 * power / hann_mean_square) / static_cast<double>(b.n);
}

double distortion_mean_bin_power(const distortion_block& b, std::span<const int64_t> notch)
{
    double power = 0.0;
    int64_t count = 0;
    for (int64_t k = 1; k < b.n / 2; k++)
        if (in_band(b, k) && !notched(k, notch))
            power += std::norm(distortion_phasor(b, k)), count++;
    return count > 0 ? power / static_cast<double>(count) : 0.0;
}

double distortion_offset_bins(std::span<const float> frames, int64_t bin, int64_t n)
{
    const int64_t bins[] = {bin};
    return distortion_offsets_bins(frames, bins, n)[0];
}

std::vector<double> distortion_offsets_bins(std::span<const float> frames, std::span<const int64_t> bins, int64_t n)
{
    // Each half mixed down by the bin's own frequency; its image at twice the
    // frequency makes whole cycles in a half (bin is whole) and sums to 0. The
    // phases are whole multiples of 2 pi / n: one table of the turn's n steps.
    std::vector<std::complex<double>> turn(static_cast<size_t>(n));
    const double step = 2.0 * std::numbers::pi / static_cast<double>(n);
    for (int64_t m = 0; m < n; m++)
        turn[static_cast<size_t>(m)] = std::polar(1.0, -step * static_cast<double>(m));
    std::vector<double> offsets;
    for (const int64_t bin : bins) {
        std::complex<double> halves[2] = {0.0, 0.0};
        const int64_t advance = ((bin % n) + n) % n;
        int64_t phase = 0;
        for (int64_t m = 0; m < n; m++) {
            halves[m < n / 2 ? 0 : 1] +=
                static_cast<double>(frames[static_cast<size_t>(m)]) * turn[static_cast<size_t>(phase)];
            phase += advance;
            if (phase >= n)
                phase -= n;
        }
        // The halves' centres lie n/2 frames apart: pi x offset radians.
        offsets.push_back(std::arg(halves[1] * std::conj(halves[0])) / std::numbers::pi);
    }
    return offsets;
}

double distortion_leakage(double offset_bins)
{
    // A tone d bins off its bin k: the plain transform's bin k + m holds
    // sin(pi d) / (pi (d - m)) of it, and the periodic Hann window's bin is
    // 1/2 of its own minus 1/4 of each neighbour's, which sums to
    // sin(pi d) / pi x 1 / (2 u (1 - u^2)), u = d - m. For small d and
    // |m| >= 2, beyond the notch, that is d / (2 |m| (m^2 - 1)); the tone
    // itself reads 1/2 there. So the spread's power re the tone's, both over
    // the window's mean square 3/8 as distortion_band_rms takes them, is
    // (d^2 / 4) x 2 S / (3/8), S the sum over m >= 2 of 1 / (m^2 (m^2 - 1)^2).
    // 1 / (m^2 (m^2 - 1)^2) = 1 / (m^2 - 1)^2 - 1 / (m^2 - 1) + 1 / m^2, whose
    // sums from 2 are pi^2 / 12 - 11/16, 3/4 and pi^2 / 6 - 1: S = pi^2 / 4 -
    // 39/16, and the RMS d sqrt(4 S / 3) = d sqrt(pi^2 / 3 - 13/4), 0.19967 d.
    // The plain transform's would be d sqrt(2 (pi^2 / 6 - 1)), 1.1357 d,
    // 15.1 dB more than what the residue, read through Hann, holds of it.
    return std::fabs(offset_bins) * std::sqrt(std::numbers::pi * std::numbers::pi / 3.0 - 13.0 / 4.0);
}
