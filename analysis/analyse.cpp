// One run's analysis.
#include "analysis/analyse.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "analysis/peak.hpp"
#include "analysis/slip.hpp"

namespace {

double hz_of_bin(const impulse_response& r, size_t k)
{
    return static_cast<double>(k) * r.rate / static_cast<double>(r.n);
}

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

// |H| in the twelfth-octave bands from low_hz up to high_hz: in each, the
// magnitude of the bins' complex mean (with the latency taken out), less the
// part of it that the bins' scatter about that mean (the noise) contributes,
// so that noise does not raise the gain.
std::vector<double> band_gains(const impulse_response& r, double latency, double sign, double low_hz, double high_hz)
{
    std::vector<double> gains;
    for (int b = 0; low_hz * std::exp2((b + 1) / 12.0) <= high_hz * 1.0001; b++) {
        const double low = low_hz * std::exp2(b / 12.0), high = low_hz * std::exp2((b + 1) / 12.0);
        std::complex<double> mean = 0.0;
        double count = 0.0;
        for (size_t k = 0; k < r.transfer.size(); k++) {
            const double hz = hz_of_bin(r, k);
            if (hz >= low && hz < high)
                mean += residual(r, k, latency, sign), count += 1.0;
        }
        if (count == 0.0)
            continue;
        mean /= count;
        double scatter = 0.0;
        for (size_t k = 0; k < r.transfer.size(); k++) {
            const double hz = hz_of_bin(r, k);
            if (hz >= low && hz < high)
                scatter += std::norm(residual(r, k, latency, sign) - mean);
        }
        const double noise = count > 1.0 ? scatter / (count - 1.0) / count : 0.0;
        gains.push_back(std::sqrt(std::max(0.0, std::norm(mean) - noise)));
    }
    return gains;
}

// The mean |H| over 500 Hz - 2 kHz.
double gain_db(const impulse_response& r, double latency, double sign)
{
    const std::vector<double> gains = band_gains(r, latency, sign, 500.0, 2000.0);
    double sum = 0.0;
    for (double g : gains)
        sum += g;
    return !gains.empty() && sum > 0.0 ? 20.0 * std::log10(sum / static_cast<double>(gains.size())) : -400.0;
}

// The median |H| over 100 Hz - 10 kHz: what the answer holds at most
// frequencies, which a dropout that silences the sweep for a stretch of its
// band (and with it, perhaps, all of 500 Hz - 2 kHz) does not move.
double typical_gain(const impulse_response& r, double latency, double sign)
{
    std::vector<double> gains = band_gains(r, latency, sign, 100.0, std::min(10000.0, 0.4 * r.rate));
    if (gains.empty())
        return 0.0;
    std::nth_element(gains.begin(), gains.begin() + static_cast<std::ptrdiff_t>(gains.size() / 2), gains.end());
    return gains[gains.size() / 2];
}

// A 16-bit path's quantisation step.
constexpr double step_16bit = 1.0 / 32768.0;

// Stretches of digital silence (at least 16 frames of exact zeros) where the
// answer should be moving: a dropout, a lost buffer filled with zeros. A sweep
// cannot tell a dropout from a notch in the response by its answer alone (a
// gap in time is a gap in frequency), so the silence itself is the sign. A
// quiet answer through a 16-bit path holds zeros of its own, where it crosses
// zero slowly (a -65 dBFS sweep at 10 Hz stays within half a step for 40
// frames): a stretch counts only where the answer expected there (the
// stimulus, delayed by the peak, at the loop's gain) spans two steps or more,
// anywhere along the stretch, so that a dropout that begins where the sweep
// moves slowly still counts. A stretch that begins before the answer arrives
// is the wait for it, however long: zeros there cannot tell a dropout from a
// longer loop (whose answer an earlier sweep's peak may stand in for).
int64_t silent_stretches(std::span<const float> stimulus, std::span<const float> capture, int64_t delay, double gain)
{
    constexpr int64_t shortest = 16;
    const int64_t frames = static_cast<int64_t>(capture.size()), played = static_cast<int64_t>(stimulus.size());
    int64_t count = 0, run = 0;
    bool judged = false;  // this stretch counted, or began before the answer
    for (int64_t i = 0; i < frames; i++) {
        run = capture[i] == 0.0f ? run + 1 : 0;
        if (run == 0)
            judged = false;
        if (run < shortest || judged)
            continue;
        if (i - run + 1 < delay) {
            judged = true;
            continue;
        }
        double low = 0.0, high = 0.0;
        for (int64_t k = i - shortest + 1 - delay; k <= i - delay; k++) {
            const double v = k >= 0 && k < played ? stimulus[k] : 0.0;
            low = std::min(low, v), high = std::max(high, v);
        }
        if (gain * (high - low) >= 2.0 * step_16bit)
            count++, judged = true;
    }
    return count;
}

// The frequency below which the stimulus holds half of its power within the
// band: the sweep's energy is even in time, so this splits its answer into
// two halves of equal length and equal weight.
double half_power_hz(const impulse_response& r)
{
    const double bin_hz = r.rate / static_cast<double>(r.n);
    double total = 0.0;
    for (size_t k = 0; k < r.stimulus.size(); k++)
        total += std::norm(r.stimulus[k]) * band_window(static_cast<double>(k) * bin_hz, r.rate);
    double sum = 0.0;
    for (size_t k = 0; k < r.stimulus.size(); k++) {
        sum += std::norm(r.stimulus[k]) * band_window(static_cast<double>(k) * bin_hz, r.rate);
        if (sum >= 0.5 * total)
            return static_cast<double>(k) * bin_hz;
    }
    return r.rate / 4.0;
}

// The band window's RMS frequency in cycles per frame: how sharply the
// band-limited peak is curved, which sets how far noise moves it.
double rms_bandwidth(std::span<const std::complex<double>> bins, const impulse_response& r)
{
    double weight = 0.0, moment = 0.0;
    for (size_t k = 0; k < bins.size(); k++) {
        const double w = std::abs(bins[k]), f = static_cast<double>(k) / static_cast<double>(r.n);
        weight += w, moment += w * f * f;
    }
    return weight > 0.0 ? std::sqrt(moment / weight) : 0.0;
}

// The latency's expanded uncertainty, from two sources:
// - noise: a band-limited peak of curvature (2 pi B)^2 in noise of 1/SNR of
//   its height moves by 1 / (2 pi B SNR) frames (B the RMS bandwidth);
// - the sweep's two halves, each read on its own: on a loop of one delay they
//   agree within their own noise; any more is a delay that depends on the
//   frequency (a minimum-phase filter) or a slip of frames during the answer
//   (a resampler, a driver that drops or repeats frames without a flag), and
//   the uncertainty grows by their disagreement, so that it reaches from the
//   latency to either half's reading.
// Their standard uncertainty times the coverage factor.
void latency_uncertainty(const impulse_response& r, double sign, run_result& result)
{
    const double snr = std::pow(10.0, result.snr_db / 20.0);
    const auto noise_of = [&r, snr](std::span<const std::complex<double>> bins) {
        const double bandwidth = rms_bandwidth(bins, r);
        return bandwidth > 0.0 ? 1.0 / (2.0 * std::numbers::pi * bandwidth * snr) : 1.0;
    };
    const double noise = noise_of(r.banded);
    const double split = half_power_hz(r), bin_hz = r.rate / static_cast<double>(r.n);
    spectrum low(r.banded.size()), high(r.banded.size());
    for (size_t k = 0; k < r.banded.size(); k++) {
        const double hz = static_cast<double>(k) * bin_hz;
        const double below = hz <= 0.9 * split ? 1.0
                             : hz >= 1.1 * split
                                 ? 0.0
                                 : 0.5 + 0.5 * std::cos(std::numbers::pi * (hz - 0.9 * split) / (0.2 * split));
        low[k] = r.banded[k] * below, high[k] = r.banded[k] * (1.0 - below);
    }
    const int64_t reach = 4 * peak_neighbourhood(r.rate);
    result.latency_low_half = peak_position_of(low, r.n, result.latency, sign, static_cast<double>(reach));
    result.latency_high_half = peak_position_of(high, r.n, result.latency, sign, static_cast<double>(reach));
    // Each half holds half the signal's power, and its own bandwidth.
    const double half_noise = std::sqrt(2.0) * std::max(noise_of(low), noise_of(high));
    const double spread = std::fabs(result.latency_high_half - result.latency_low_half);
    const double excess = std::max(0.0, spread * spread - half_noise * half_noise);
    result.latency_noise = noise;
    result.latency_uncertainty = latency_coverage * std::sqrt(noise * noise + excess);
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

run_result analyse_run(const impulse_response& r, std::span<const float> stimulus, std::span<const float> capture,
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
    // The gain is measured over 500 Hz to 2 kHz, which a long dropout can wipe
    // out (-400 dB): the loop's typical gain over the band is its floor.
    const double answer_gain = std::max(std::pow(10.0, result.gain_db / 20.0), typical_gain(r, result.latency, sign));
    result.gaps = silent_stretches(stimulus, capture, result.peak, answer_gain);
    // Only an answer captured whole has every stretch: one cut short (a loop
    // longer than the capture, its peak an earlier sweep's or a smear) has not.
    if (result.peak + static_cast<int64_t>(stimulus.size()) <= static_cast<int64_t>(capture.size()))
        result.slip_frames = slip_read(r, result.searched_lags - 1).slip_frames;
    latency_uncertainty(r, sign, result);
    return result;
}
