// Finding the stimulus, locking on, learning the residue, then tracking it
// chunk by chunk: the delay-locked loop, the tones' gains, the drift's measurements.
#include <algorithm>
#include <cmath>

#include "analysis/monitor_steps.hpp"

namespace {

// The delay-locked loop's gains per chunk (a second-order loop: delay and
// slope) and the gains' and dc's adaptation. Locking on: about 15 Hz wide;
// tracking: about 3 Hz, still following a 200 ppm slide with no lag.
struct loop_gains {
    double delay, slope, gain, dc;
};
constexpr loop_gains acquire_gains{0.7, 0.25, 0.3, 0.3};
constexpr loop_gains track_gains{0.14, 0.01, 0.01, 0.01};

// The clocks' offsets the find step tries, ppm, 300 apart: the delay-locked
// loop then has at most 150 ppm left to pull in while it locks on, which it
// does as from one clock; up to 1050 ppm either way. From a slope of 0
// alone, the delay's error grows faster than the loop pulls in beyond about
// 260 ppm, the residue trips the lock-on's limit, and the search starts over.
constexpr double find_slopes_ppm[] = {0.0, 300.0, -300.0, 600.0, -600.0, 900.0, -900.0};

// ---- locking on and tracking: one chunk at a time.

// The |r| below which the share of the learnt frames lies.
double histogram_quantile(const monitor_detector& d, double share)
{
    int64_t total = 0;
    for (const int64_t c : d.histogram)
        total += c;
    int64_t seen = 0, bin = 0;
    while (bin < histogram_bins - 1 &&
           static_cast<double>(seen + d.histogram[bin]) < share * static_cast<double>(total))
        seen += d.histogram[bin++];
    return std::pow(10.0, (histogram_floor_db + 0.25 * (static_cast<double>(bin) + 0.5)) / 20.0);
}

void threshold_from_histogram(monitor_detector& d)
{
    // The median |r| of a Gaussian residue is 0.6745 sigma. A residue with
    // heavier tails (distortion the model does not hold) raises the
    // threshold to twice its 99.99th percentile, which for a Gaussian one is
    // 3.9 sigma: the same 8 sigma.
    const double sigma = 1.4826 * histogram_quantile(d, 0.5);
    const double tail = histogram_quantile(d, 0.9999);
    const double level = monitor_model_level(d.model);
    d.summary.threshold =
        std::max({threshold_sigmas * sigma, tail_factor * tail, level * std::pow(10.0, threshold_floor_db / 20.0)});
    d.summary.residue_db = 20.0 * std::log10(d.summary.threshold / level);
    d.summary.learnt_disturbed = d.learnt_peak > d.summary.threshold;
    d.summary.aligned = true;
}

// The delay-locked loop, the tones' gains and the dc from one clean chunk's
// residue; returns the delay measured at the chunk's middle.
double update_loops(monitor_detector& d, const monitor_pass& p, const loop_gains& g)
{
    monitor_model& m = d.model;
    const double frames = static_cast<double>(d.chunk);
    // Each tone's error relative to its gain: its phase is the delay's error
    // times its frequency; the weighted least-squares slope gives the delay.
    double num = 0.0, den = 0.0;
    for (size_t k = 0; k < m.tones.size(); k++) {
        const double dg_re = -2.0 * d.acc_im[k] / frames, dg_im = 2.0 * d.acc_re[k] / frames;
        const double g2 = m.gain_re[k] * m.gain_re[k] + m.gain_im[k] * m.gain_im[k];
        d.rho_re[k] = (dg_re * m.gain_re[k] + dg_im * m.gain_im[k]) / g2;
        d.rho_im[k] = (dg_im * m.gain_re[k] - dg_re * m.gain_im[k]) / g2;
        const double omega = m.tones[k].omega;
        num += g2 * omega * std::atan2(d.rho_im[k], 1.0 + d.rho_re[k]);
        den += g2 * omega * omega;
    }
    const double ahead = num / den;  // stimulus frames the capture runs ahead of the model
    const double error = -ahead;     // the delay measured less the model's
    const double measured = monitor_model_delay_at(m, d.next + d.chunk / 2) + error;
    // What the delay leaves of each tone's error goes into its gain.
    for (size_t k = 0; k < m.tones.size(); k++) {
        const double e_re = d.rho_re[k], e_im = d.rho_im[k] - m.tones[k].omega * ahead;
        const double re = m.gain_re[k], im = m.gain_im[k];
        m.gain_re[k] += g.gain * (re * e_re - im * e_im);
        m.gain_im[k] += g.gain * (re * e_im + im * e_re);
    }
    m.dc += g.dc * p.sum / frames;
    // The distortion's coefficients, each by a normalised step.
    if (p.norm_square > 0.0 && p.norm_cube > 0.0) {
        m.square += g.gain * p.acc_square / p.norm_square;
        m.cube += g.gain * p.acc_cube / p.norm_cube;
    }
    const int64_t end = d.next + d.chunk;
    m.delay = monitor_model_delay_at(m, end) + g.delay * error;
    m.slope += g.slope * error / frames;
    m.anchor = end;
    return measured;
}

}  // namespace

void monitor_begin_search(monitor_detector& d, int64_t frame, bool silent)
{
    if (d.state == monitor_state::track && frame - d.clean_start > d.summary.longest_clean_frames) {
        d.summary.longest_clean_frames = frame - d.clean_start;
        d.summary.longest_clean_from = d.clean_start;
    }
    d.state = monitor_state::search;
    d.trigger = d.attempt = frame;
    d.lost_reported = false;
    d.silent = silent;
}

bool monitor_step_chunk(monitor_detector& d)
{
    if (d.next + d.chunk > d.fed_end)
        return false;
    const std::span<const float> y = monitor_ring_stretch(d, d.next, d.chunk);
    monitor_pass p = monitor_pass_of(d);
    std::fill(d.acc_re.begin(), d.acc_re.end(), 0.0);
    std::fill(d.acc_im.begin(), d.acc_im.end(), 0.0);
    p.acc_re = d.acc_re;
    p.acc_im = d.acc_im;
    const bool tracking = d.state == monitor_state::track, learning = d.state == monitor_state::learn;
    p.limit = tracking ? d.summary.threshold : sanity_share * monitor_model_level(d.model);
    if (learning)
        p.residue = std::span<double>(d.residue).first(y.size());
    monitor_model_run(d.model, y, d.next, p);
    if (p.done < y.size()) {
        if (tracking) {
            monitor_begin_search(d, d.next + static_cast<int64_t>(p.done), false);
        } else {
            // Lost while locking on: look for the stimulus afresh.
            d.state = monitor_state::find;
            d.start = d.next + static_cast<int64_t>(p.done) + 1;
        }
        return true;
    }
    if (learning) {
        d.learnt_peak = std::max(d.learnt_peak, p.peak);
        d.learnt_level = std::max(d.learnt_level, p.peak_signal);
        for (const double r : p.residue) {
            const double db = r == 0.0 ? histogram_floor_db : 20.0 * std::log10(std::fabs(r));
            const double bin =
                std::clamp(std::floor((db - histogram_floor_db) * 4.0), 0.0, static_cast<double>(histogram_bins - 1));
            d.histogram[static_cast<size_t>(bin)]++;
        }
    }
    const double measured = update_loops(d, p, d.state == monitor_state::acquire ? acquire_gains : track_gains);
    if (d.state != monitor_state::acquire)
        monitor_drift_add(d.drift, static_cast<double>(d.next + d.chunk / 2 - d.start), measured + d.jumps);
    d.next += d.chunk;
    if (tracking)
        d.summary.frames_checked += d.chunk;
    if (d.state == monitor_state::acquire && d.next >= d.phase_end) {
        d.state = monitor_state::learn;
        d.phase_end = d.next + monitor_seconds(d, learn_seconds);
        d.summary.delay_start_frames = monitor_model_delay_at(d.model, d.next);
        d.summary.delay_start_at = d.next;
        std::fill(d.histogram.begin(), d.histogram.end(), 0);
        d.learnt_peak = d.learnt_level = 0.0;
    } else if (learning && d.next >= d.phase_end) {
        threshold_from_histogram(d);
        d.state = monitor_state::track;
        d.clean_start = d.next;
    }
    return true;
}

// Looks for the stimulus in the first window after start: the given latency
// within 20 ms, each tone's gain and phase as they come.
bool monitor_step_find(monitor_detector& d)
{
    d.start = std::max(d.start, monitor_ring_oldest(d));
    if (d.start + d.window > d.fed_end)
        return false;
    const std::span<const float> y = monitor_ring_stretch(d, d.start, d.window);
    monitor_align_work w = monitor_align_of(d);
    const double level = monitor_model_level(d.model);
    const int64_t reach = monitor_seconds(d, find_reach_seconds);
    // Each offset tried from the same delay at the window's start; the one
    // whose model leaves the least residue wins.
    d.model.delay = monitor_model_delay_at(d.model, d.start);
    d.model.anchor = d.start;
    double best_slope = 0.0, best_residue = infinity;
    for (const double ppm : find_slopes_ppm) {
        d.model.slope = ppm * 1e-6;
        const monitor_shift s = monitor_align(d.model, y, d.start, reach, infinity, 0.1 * level, true, w);
        if (s.found && w.pass.sum_squares < best_residue)
            best_slope = d.model.slope, best_residue = w.pass.sum_squares;
    }
    d.model.slope = best_slope;
    if (best_residue == infinity) {
        d.start += d.window;
        return true;
    }
    monitor_align(d.model, y, d.start, reach, infinity, 0.1 * level, true, w);
    monitor_adopt_trial(d);
    d.state = monitor_state::acquire;
    d.next = d.start + d.window;
    d.phase_end = d.next + monitor_seconds(d, acquire_seconds);
    d.jumps = 0.0;
    monitor_drift_restart(d.drift);
    return true;
}
