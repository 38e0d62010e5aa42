// A slip of frames during the sweep's answer, read from the sweep's stretches.
#include "analysis/slip.hpp"

#include <cmath>
#include <numbers>
#include <vector>

#include "analysis/analyse.hpp"
#include "analysis/peak.hpp"

namespace {

// Two peaks of a stretch within 3 dB of each other are one stretch heard twice.
constexpr double equal_share = 0.7;

// A stretch's peak over its noise, dB, for it to take part: 10 dB above the
// loop's own floor, where the largest of thousands of noise taps is still
// some 15 dB below it.
constexpr double stretch_snr_floor_db = loop_snr_floor_db + 10.0;

// The bins where each stretch of equal stimulus power (within the band) ends.
std::vector<double> stretch_edges_hz(const impulse_response& r)
{
    const double bin_hz = r.rate / static_cast<double>(r.n);
    double total = 0.0;
    for (size_t k = 0; k < r.stimulus.size(); k++)
        total += std::norm(r.stimulus[k]) * band_window(static_cast<double>(k) * bin_hz, r.rate);
    std::vector<double> edges;
    double sum = 0.0;
    for (size_t k = 0; k < r.stimulus.size() && static_cast<int64_t>(edges.size()) < slip_stretches - 1; k++) {
        sum += std::norm(r.stimulus[k]) * band_window(static_cast<double>(k) * bin_hz, r.rate);
        if (sum >= total * static_cast<double>(edges.size() + 1) / static_cast<double>(slip_stretches))
            edges.push_back(static_cast<double>(k) * bin_hz);
    }
    return edges;
}

// The share of bin k's content that stretch s takes: raised-cosine
// crossovers 10 % either side of each edge, so that the shares add to 1.
double stretch_share(const std::vector<double>& edges, size_t s, double hz)
{
    const auto below = [hz](double edge) {
        if (hz <= 0.9 * edge)
            return 1.0;
        if (hz >= 1.1 * edge)
            return 0.0;
        return 0.5 + 0.5 * std::cos(std::numbers::pi * (hz - 0.9 * edge) / (0.2 * edge));
    };
    const double under_top = s < edges.size() ? below(edges[s]) : 1.0;
    const double under_bottom = s > 0 ? below(edges[s - 1]) : 0.0;
    return under_top - under_bottom;
}

}  // namespace

slip_reading slip_read(const impulse_response& r, int64_t last_lag)
{
    slip_reading reading;
    if (r.n <= 0 || last_lag < 0 || r.banded.empty())
        return reading;
    const std::vector<double> edges = stretch_edges_hz(r);
    if (static_cast<int64_t>(edges.size()) != slip_stretches - 1)
        return reading;
    const double bin_hz = r.rate / static_cast<double>(r.n);
    const int64_t near = peak_neighbourhood(r.rate);
    last_lag = std::min<int64_t>(last_lag, r.n / 2 - 1);
    int64_t first = -1, farthest = 0;
    spectrum bins(r.banded.size());
    for (size_t s = 0; s < static_cast<size_t>(slip_stretches); s++) {
        for (size_t k = 0; k < r.banded.size(); k++)
            bins[k] = r.banded[k] * stretch_share(edges, s, static_cast<double>(k) * bin_hz);
        const std::vector<double> ir = signal_of(bins, r.n);
        int64_t peak = peak_index(ir, 0, last_lag);
        const double noise = noise_level(ir, 0, last_lag, peak, near);
        const double size = std::fabs(ir[static_cast<size_t>(peak)]);
        // Repeated frames play a stretch twice, as two peaks of one size: the earlier is its arrival.
        while (peak - near - 1 >= 0) {
            const int64_t earlier = peak_index(ir, 0, peak - near - 1);
            if (std::fabs(ir[static_cast<size_t>(earlier)]) < equal_share * size)
                break;
            peak = earlier;
        }
        if (!(size > 0.0) || (noise > 0.0 && 20.0 * std::log10(size / noise) < stretch_snr_floor_db))
            continue;
        reading.stretches++;
        if (first < 0)
            first = peak;
        if (std::llabs(peak - first) > std::llabs(farthest))
            farthest = peak - first;
    }
    if (reading.stretches >= 2 && std::llabs(farthest) >= near)
        reading.slip_frames = farthest;
    return reading;
}
