// Response rows, their summary and the CSV files.
#include "analysis/response.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <limits>
#include <numbers>

namespace {

// The noise's power per frame in each bin of a 2048-frame Hann window,
// averaged over the quiet frames (Welch), at rate / 2048 Hz per bin; empty
// when there are too few quiet frames.
std::vector<double> noise_power(std::span<const float> quiet)
{
    constexpr int64_t length = 2048, hop = 1024;
    const int64_t frames = static_cast<int64_t>(quiet.size());
    if (frames < length)
        return {};
    std::vector<double> window(length), power(length / 2 + 1, 0.0);
    double window_power = 0.0;
    for (int64_t i = 0; i < length; i++) {
        window[i] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / length);
        window_power += window[i] * window[i];
    }
    int64_t segments = 0;
    std::vector<double> segment(length);
    for (int64_t start = 0; start + length <= frames; start += hop, segments++) {
        for (int64_t i = 0; i < length; i++)
            segment[i] = quiet[start + i] * window[i];
        const spectrum bins = spectrum_of(std::span<const double>(segment), length);
        for (size_t k = 0; k < power.size(); k++)
            power[k] += std::norm(bins[k]) / window_power;
    }
    // A float capture resolves no noise below its own rounding (half a unit
    // in the last place of a full-scale sample, 2^-25): a silent one is not infinitely quiet.
    constexpr double floor = 0x1p-50 / 12.0;
    for (double& p : power)
        p = std::max(p / static_cast<double>(segments), floor);
    return power;
}

double snr_text_clamp(double db) { return std::clamp(db, -200.0, 200.0); }

}  // namespace

std::vector<response_row> response_rows(const impulse_response& r, std::span<const float> quiet, double latency)
{
    const double bin_hz = r.rate / static_cast<double>(r.n);
    const std::vector<double> noise = noise_power(quiet);
    std::vector<response_row> rows;
    std::vector<std::complex<double>> means;
    for (double hz = response_row_hz * std::ceil(response_low_hz / response_row_hz); hz <= r.rate / 2.0 + 1e-9;
         hz += response_row_hz) {
        const int64_t first = std::max<int64_t>(1, std::lrint(std::ceil((hz - response_row_hz / 2.0) / bin_hz)));
        const int64_t last = std::min<int64_t>(static_cast<int64_t>(r.transfer.size()) - 1,
                                               std::lrint(std::floor((hz + response_row_hz / 2.0) / bin_hz - 1e-9)));
        std::complex<double> mean = 0.0;
        double noise_sum = 0.0;
        for (int64_t k = first; k <= last; k++) {
            const double omega = 2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(r.n);
            mean += r.transfer[k] * std::polar(1.0, omega * latency);
            // A bin of the n-frame transform holds n times the noise power per
            // frame; divided by the sweep's power there, as the transfer is.
            if (!noise.empty()) {
                const size_t nk =
                    std::min(noise.size() - 1, static_cast<size_t>(std::lrint(k * bin_hz * 2048.0 / r.rate)));
                const double s = std::norm(r.stimulus[k]);
                noise_sum += s > 0.0 ? static_cast<double>(r.n) * noise[nk] / s : 1e300;
            }
        }
        const double count = static_cast<double>(std::max<int64_t>(1, last - first + 1));
        mean /= count;
        response_row row;
        row.hz = hz;
        row.level_db = 20.0 * std::log10(std::max(std::abs(mean), 1e-20));
        row.phase_deg = std::arg(mean) * 180.0 / std::numbers::pi;
        // The noise of a mean of count bins: their summed noise over count
        // squared. Not measured: NaN, the SNR unknown.
        const double noise_of_mean = noise_sum / (count * count);
        row.snr_db = noise.empty() ? std::numeric_limits<double>::quiet_NaN()
                                   : snr_text_clamp(10.0 * std::log10(std::norm(mean) / noise_of_mean));
        rows.push_back(row);
    }
    // Levels relative to the row nearest 1 kHz.
    const auto reference = std::min_element(rows.begin(), rows.end(), [](const response_row& a, const response_row& b) {
        return std::fabs(a.hz - 1000.0) < std::fabs(b.hz - 1000.0);
    });
    const double ref = reference != rows.end() ? reference->level_db : 0.0;
    for (response_row& row : rows)
        row.level_db -= ref;
    return rows;
}

response_summary response_summarise(std::span<const response_row> rows, double rate)
{
    response_summary s;
    s.band_high_hz = std::min(20000.0, 0.45 * rate);
    double low = 1e9, high = -1e9;
    size_t kilohertz = 0;
    for (size_t i = 0; i < rows.size(); i++) {
        if (rows[i].hz >= s.band_low_hz && rows[i].hz <= s.band_high_hz)
            low = std::min(low, rows[i].level_db), high = std::max(high, rows[i].level_db);
        if (std::fabs(rows[i].hz - 1000.0) < std::fabs(rows[kilohertz].hz - 1000.0))
            kilohertz = i;
    }
    s.flatness_db = high >= low ? 0.5 * (high - low) : 0.0;
    // The -3 dB points: where the level first falls below -3 dB going down and
    // up from 1 kHz, between two rows by linear interpolation.
    auto crossing = [&](size_t a, size_t b) {
        const double t = (-3.0 - rows[a].level_db) / (rows[b].level_db - rows[a].level_db);
        return rows[a].hz + t * (rows[b].hz - rows[a].hz);
    };
    for (size_t i = kilohertz; i > 0; i--)
        if (rows[i - 1].level_db < -3.0) {
            s.minus3_low_hz = crossing(i, i - 1);
            break;
        }
    for (size_t i = kilohertz; i + 1 < rows.size(); i++)
        if (rows[i + 1].level_db < -3.0) {
            s.minus3_high_hz = crossing(i, i + 1);
            break;
        }
    return s;
}
