// One run's analysis.
#include "analysis/analyse.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <complex>
#include <vector>

#include "analysis/peak.hpp"

namespace {

double hz_of_bin(const impulse_response& r, size_t k) { return static_cast<double>(k) * r.rate / static_cast<double>(r.n); }

// The transfer at bin k with the latency taken out and the polarity turned
// back: what is left is the path's own phase, small for any ordinary path.
std::complex<double> residual(const impulse_response& r, size_t k, double latency, double sign)
{
    const double omega = 2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(r.n);
    return sign * r.transfer[k] * std::polar(1.0, omega * latency);
}

// Weighted least squares of the residual phase against frequency, each bin
// weighted by the captured power in it; the slope is the group delay's
// difference from the latency.
double group_delay(const impulse_response& r, double latency, double sign)
{
    const double top = std::min(15000.0, 0.45 * r.rate);
    double sw = 0.0, sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
    for (size_t k = 0; k < r.transfer.size(); k++) {
        const double hz = hz_of_bin(r, k);
        if (hz < 500.0 || hz > top)
            continue;
        const std::complex<double> z = residual(r, k, latency, sign);
        const double w = std::norm(r.transfer[k] * r.stimulus[k]);
        const double x = 2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(r.n), y = std::arg(z);
        sw += w, sx += w * x, sy += w * y, sxx += w * x * x, sxy += w * x * y;
    }
    const double det = sw * sxx - sx * sx;
    return det > 0.0 ? latency - (sw * sxy - sx * sy) / det : latency;
}

// The determinant of a 3 x 3 matrix.
double determinant(const double m[3][3])
{
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

// The phase's slope at 1 kHz and its standard error: a weighted least-squares
// parabola through the residual phase over a twelfth of an octave centred
// there (each bin weighted by its captured power, which is what the phase's
// noise varies against), its slope at the centre. Narrow, so that an
// equaliser's group delay peaking at 1 kHz is read at its top and not averaged
// down its sides; and so it is noisier than the broadband figure.
void group_delay_at_1khz(const impulse_response& r, double latency, double sign, run_result& result)
{
    const double low = 1000.0 * std::exp2(-1.0 / 24.0), high = 1000.0 * std::exp2(1.0 / 24.0);
    const double centre = 2.0 * std::numbers::pi * 1000.0 / r.rate;  // radians per frame
    struct point {
        double w, x, y;
    };
    std::vector<point> points;
    for (size_t k = 0; k < r.transfer.size(); k++) {
        const double hz = hz_of_bin(r, k);
        if (hz >= low && hz <= high)
            points.push_back({std::norm(r.transfer[k] * r.stimulus[k]),
                              2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(r.n) - centre,
                              std::arg(residual(r, k, latency, sign))});
    }
    result.group_delay_1khz = latency;
    result.group_delay_1khz_sd = -1.0;
    // Normal equations of y = a + b x + c x^2, solved by Cramer's rule.
    double m[3][3] = {}, v[3] = {};
    for (const point& p : points) {
        const double powers[3] = {1.0, p.x, p.x * p.x};
        for (int i = 0; i < 3; i++) {
            for (int j = 0; j < 3; j++)
                m[i][j] += p.w * powers[i] * powers[j];
            v[i] += p.w * powers[i] * p.y;
        }
    }
    const double det = determinant(m);
    if (points.size() < 4 || !(std::fabs(det) > 0.0))
        return;
    double beta[3];
    for (int c = 0; c < 3; c++) {
        double mc[3][3];
        for (int i = 0; i < 3; i++)
            for (int j = 0; j < 3; j++)
                mc[i][j] = j == c ? v[i] : m[i][j];
        beta[c] = determinant(mc) / det;
    }
    double residue = 0.0;
    for (const point& p : points) {
        const double e = p.y - (beta[0] + beta[1] * p.x + beta[2] * p.x * p.x);
        residue += p.w * e * e;
    }
    // The slope's variance: the residue per degree of freedom times the
    // inverse normal matrix's middle element (its cofactor over the determinant).
    const double cofactor = m[0][0] * m[2][2] - m[0][2] * m[2][0];
    const double variance = residue / static_cast<double>(points.size() - 3) * cofactor / det;
    result.group_delay_1khz = latency - beta[1];
    result.group_delay_1khz_sd = std::sqrt(std::max(0.0, variance));
}

// The mean |H| over 500 Hz - 2 kHz, from twelfth-octave bands: in each, |H|
// is the magnitude of the bins' complex mean (with the latency taken out),
// less the part of it that the bins' scatter about that mean (the noise)
// contributes, so that noise does not raise the gain.
double gain_db(const impulse_response& r, double latency, double sign)
{
    double sum = 0.0;
    int64_t bands = 0;
    for (int b = 0; b < 24; b++) {
        const double low = 500.0 * std::exp2(b / 12.0), high = 500.0 * std::exp2((b + 1) / 12.0);
        std::vector<std::complex<double>> z;
        for (size_t k = 0; k < r.transfer.size(); k++) {
            const double hz = hz_of_bin(r, k);
            if (hz >= low && hz < high)
                z.push_back(residual(r, k, latency, sign));
        }
        if (z.empty())
            continue;
        std::complex<double> mean = 0.0;
        for (const auto& v : z)
            mean += v;
        mean /= static_cast<double>(z.size());
        double scatter = 0.0;
        for (const auto& v : z)
            scatter += std::norm(v - mean);
        const double g = static_cast<double>(z.size());
        const double noise = z.size() > 1 ? scatter / (g - 1.0) / g : 0.0;
        sum += std::sqrt(std::max(0.0, std::norm(mean) - noise));
        bands++;
    }
    return bands > 0 && sum > 0.0 ? 20.0 * std::log10(sum / static_cast<double>(bands)) : -400.0;
}

// Stretches of digital silence (at least 16 frames of exact zeros, which no
// signal that passed a converter or a noisy path holds) where the sweep is
// coming back: a dropout, a lost buffer filled with zeros. A sweep cannot
// tell a dropout from a notch in the response by its answer alone (a gap in
// time is a gap in frequency), so the silence itself is the sign.
int64_t silent_stretches(std::span<const float> capture, int64_t from, int64_t to)
{
    constexpr int64_t shortest = 16;
    to = std::min<int64_t>(to, static_cast<int64_t>(capture.size()));
    int64_t count = 0, run = 0;
    for (int64_t i = std::max<int64_t>(from, 0); i < to; i++) {
        run = capture[i] == 0.0f ? run + 1 : 0;
        if (run == shortest)
            count++;
    }
    return count;
}

// The largest tap's value as it would be without the band window's top:
// what the sweep measured up to 0.47 x rate, and beyond that the path taken
// as a delay at the gain it has just below there. A digital loop, which
// passes everything, reads 1; a converter path, whose own filters end its
// band below there, reads its own tap.
double full_band_value(const impulse_response& r, int64_t peak, double latency, double sign)
{
    const double bin_hz = r.rate / static_cast<double>(r.n);
    const size_t nyquist = r.transfer.size() - 1;
    double top = 0.0, measured = 0.0, continued = 0.0;
    int64_t count = 0;
    for (size_t k = 0; k <= nyquist; k++) {
        const double hz = static_cast<double>(k) * bin_hz, weight = k == nyquist ? 1.0 : 2.0;
        const double omega = 2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(r.n);
        if (hz >= 0.46 * r.rate && hz < 0.47 * r.rate)
            top += std::abs(r.transfer[k]), count++;
        if (hz >= 0.45 * r.rate && hz < 0.47 * r.rate)
            measured += weight * (1.0 - band_window(hz, r.rate)) *
                        (r.transfer[k] * std::polar(1.0, omega * static_cast<double>(peak))).real();
        else if (hz >= 0.47 * r.rate)
            continued += weight * std::cos(omega * (static_cast<double>(peak) - latency));
    }
    if (count > 0)
        top /= static_cast<double>(count);
    return r.ir[peak] + (measured + sign * top * continued) / static_cast<double>(r.n);
}

}  // namespace

int64_t peak_neighbourhood(double rate) { return std::max<int64_t>(8, std::lrint(rate / 750.0)); }

run_result analyse_peak(const impulse_response& r, int64_t last_lag)
{
    run_result result;
    // The transform is at least capture + sweep long: positive lags up to the
    // capture's end never meet the negative lags at its end.
    last_lag = std::min<int64_t>(last_lag, r.n - 1 - peak_neighbourhood(r.rate));
    if (last_lag < 0)
        return result;
    result.searched_lags = last_lag + 1;
    result.peak = peak_index(r.ir, 0, last_lag);
    result.peak_value = r.ir[result.peak];
    const int64_t near = peak_neighbourhood(r.rate);
    const double noise = noise_level(r.ir, 0, last_lag, result.peak, near);
    const double size = std::fabs(result.peak_value);
    result.snr_db = size > 0.0 ? (noise > 0.0 ? 20.0 * std::log10(size / noise) : 400.0) : -400.0;
    result.loop = size > 0.0 && result.snr_db >= loop_snr_floor_db;
    result.inverted = result.peak_value < 0.0;
    result.latency = result.loop ? peak_position(r, result.peak) : static_cast<double>(result.peak);
    if (result.loop)
        result.peak_value = full_band_value(r, result.peak, result.latency, result.inverted ? -1.0 : 1.0);
    return result;
}

run_result analyse_run(const impulse_response& r, std::span<const float> capture, int64_t stimulus_frames,
                       int64_t last_lag)
{
    run_result result = analyse_peak(r, last_lag);
    for (float v : capture)
        result.input_peak = std::max(result.input_peak, static_cast<double>(std::fabs(v)));
    if (!result.loop)
        return result;
    const double sign = result.inverted ? -1.0 : 1.0;
    result.group_delay = group_delay(r, result.latency, sign);
    group_delay_at_1khz(r, result.latency, sign, result);
    result.gain_db = gain_db(r, result.latency, sign);
    const int64_t near = peak_neighbourhood(r.rate), last = result.searched_lags - 1;
    const int64_t next = next_peak_index(r.ir, 0, last, result.peak, near);
    if (next >= 0 && r.ir[next] != 0.0) {
        result.has_next = true;
        result.next_offset = next - result.peak;
        result.next_level_db = 20.0 * std::log10(std::fabs(r.ir[next]) / std::fabs(r.ir[result.peak]));
    }
    // Where the sweep comes back, but for its fade-out.
    result.gaps = silent_stretches(capture, result.peak, result.peak + stimulus_frames * 49 / 50);
    return result;
}
