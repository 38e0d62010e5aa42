// Finding the stimulus, locking on, learning the residue, then tracking it
// chunk by chunk: the delay-locked loop, the tones' gains, the drift's measurements.
#include <algorithm>
#include <cmath>

#include "analysis/monitor_steps.hpp"

namespace {

// The delay-locked loop's gains per chunk (a second-order loop: delay and
// slope), the gains' and dc's adaptation and the distortion's. Locking on:
// about 15 Hz wide, the distortion left alone (while the loop pulls the
// delay in, its error correlates with the cube of the signal, and c3
// learnt from it took seconds to forget: 3e-6 of error at the signal's
// peaks, the threshold 20 dB up at -140 dBFS); settling, before the residue
// is learnt: the loop narrowed, the distortion learnt fast and the tones'
// gains fast too (while the cube was left alone they took its part at their
// own frequencies, which they must give back before the residue is learnt:
// at 0.05 a chunk a -26 dB cube left peaks of 8 to 9 sigma decaying through
// the learning, read as a disturbance there; at 0.2 they took up the
// delay's lag under fast wander at 192 kHz instead); tracking: about
// 3 Hz, still following a 200 ppm slide with no lag, the gains within 0.1 s.
struct loop_gains {
    double delay, slope, gain, dc, distortion;
};
constexpr loop_gains acquire_gains{0.7, 0.25, 0.3, 0.3, 0.0};
constexpr loop_gains settle_gains{0.14, 0.01, 0.1, 0.05, 0.5};
constexpr loop_gains track_gains{0.14, 0.01, 0.05, 0.05, 0.01};

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

// The learning chunks' peaks, largest first: the tail that many chunks reach.
double spread_peak(monitor_detector& d, int rank)
{
    const size_t n = static_cast<size_t>(d.learn_chunks);
    if (n == 0)
        return 0.0;
    std::copy_n(d.learn_peak.begin(), n, d.learn_sorted.begin());
    const size_t k = std::min(n, static_cast<size_t>(rank)) - 1;
    std::nth_element(d.learn_sorted.begin(), d.learn_sorted.begin() + static_cast<std::ptrdiff_t>(k),
                     d.learn_sorted.begin() + static_cast<std::ptrdiff_t>(n), std::greater<>());
    return d.learn_sorted[k];
}

// The expected false glitches an hour at the threshold: a Gaussian residue
// of the learnt sigma exceeds it with probability erfc(T / (sigma sqrt 2)) a
// frame; a residue whose tail set the threshold, by the chunks' peaks'
// exponential tail extrapolated (its scale from the largest and the
// tail_rank-th largest peak: pessimistic for a Gaussian tail, which falls
// faster).
double false_rate(monitor_detector& d, double sigma, double threshold, bool tail_set)
{
    const double frames_per_hour = 3600.0 * d.rate;
    double rate = sigma > 0.0 ? std::erfc(threshold / (sigma * std::sqrt(2.0))) * frames_per_hour : 0.0;
    if (tail_set && d.learn_chunks >= tail_rank) {
        const double top = spread_peak(d, 1), kth = spread_peak(d, tail_rank);
        const double scale = std::max((top - kth) / std::log(static_cast<double>(tail_rank)), 1e-300);
        const double per_chunk = tail_rank / static_cast<double>(d.learn_chunks) * std::exp(-(threshold - kth) / scale);
        rate = std::max(rate, per_chunk * frames_per_hour / static_cast<double>(d.chunk));
    }
    return rate;
}

// The threshold from what was learnt: 8 sigma, sigma robust (1.4826 x the
// median |r|), and at least 100 dB below the signal (a digital loop's
// rounding is no glitch). A residue with heavier tails than a Gaussian one
// (distortion the polynomial does not hold, a resampler's error) reaches
// beyond 8 sigma in many of the learning's chunks: with tail_rank chunks or
// more beyond it, the tail is accepted and the threshold is twice the
// largest peak at least. Beyond it in fewer chunks, and beyond the
// threshold, a burst: false, a disturbance while learning, which the caller
// reports and learns again after (after most_learning_restarts, the tail is
// accepted all the same).
bool threshold_from_learning(monitor_detector& d)
{
    const double sigma = 1.4826 * histogram_quantile(d, 0.5);
    const double level = monitor_model_level(d.model);
    const double floor = level * std::pow(10.0, threshold_floor_db / 20.0);
    double threshold = std::max(threshold_sigmas * sigma, floor);
    int64_t beyond = 0;
    for (int64_t i = 0; i < d.learn_chunks; i++)
        beyond += d.learn_peak[static_cast<size_t>(i)] > threshold_sigmas * sigma ? 1 : 0;
    const bool tail = beyond >= tail_rank || (beyond > 0 && d.summary.learning_restarts >= most_learning_restarts);
    if (tail)
        threshold = std::max(threshold, tail_factor * spread_peak(d, 1));
    d.summary.threshold = threshold;
    d.summary.residue_sigma = sigma;
    d.summary.residue_db = 20.0 * std::log10(threshold / level);
    d.summary.false_per_hour = false_rate(d, sigma, threshold, tail);
    return tail || spread_peak(d, 1) <= threshold;
}

// A disturbance while the residue was learnt: an event from the first chunk
// whose peak exceeds the threshold to the last, said so, and the learning
// begun again from here.
void learning_disturbed(monitor_detector& d, std::vector<monitor_event>& out)
{
    int64_t first = -1, last = -1;
    for (int64_t i = 0; i < d.learn_chunks; i++)
        if (d.learn_peak[static_cast<size_t>(i)] > d.summary.threshold) {
            const int64_t frame = d.learn_peak_at[static_cast<size_t>(i)];
            first = first < 0 ? frame : std::min(first, frame);
            last = std::max(last, frame);
        }
    monitor_event e;
    e.frame = first, e.kind = monitor_kind::discontinuity, e.frames = last - first + 1;
    e.learning_restarted = true;
    monitor_report(d, e, out);
    d.summary.learning_restarts++;
    d.summary.learnt_disturbed = true;
}

// The learning begins after the loops, narrowed, have settled for a while:
// the tones' gains, the DC and the distortion converge in a fraction of a
// second, and their error while they do is no part of the residue to come.
void learning_begin(monitor_detector& d, double settle_s)
{
    d.state = monitor_state::learn;
    d.learn_from = d.next + monitor_seconds(d, settle_s);
    d.phase_end = d.learn_from + monitor_seconds(d, learn_seconds);
    std::fill(d.histogram.begin(), d.histogram.end(), 0);
    d.learnt_level = 0.0;
    d.learn_chunks = 0;
}

// The delay-locked loop, the tones' gains and the dc from one clean chunk's
// residue; returns the delay measured at the chunk's middle.
double update_loops(monitor_detector& d, const loop_gains& g)
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
    m.dc += g.dc * d.pass_sum / frames;
    // The distortion's coefficients, each by a normalised step; the cube's
    // from what lies between the tones only (monitor_cube_between_tones: its
    // part at each tone's own frequency, 3/4 of a3 times the tones' power,
    // is what the tones' gains follow too; learnt by both, c3 crept for
    // seconds while the gains gave it back).
    // Both at once, by least squares (q^2 and q^3 correlate within a chunk:
    // each stepped alone, an error of one leaked into the other).
    const double det = d.pass_norm_square * d.pass_norm_cube - d.pass_cross * d.pass_cross;
    if (d.pass_norm_square > 0.0 && d.pass_norm_cube > 0.0 && det > 1e-6 * d.pass_norm_square * d.pass_norm_cube) {
        m.square += g.distortion * (d.pass_norm_cube * d.pass_square - d.pass_cross * d.pass_cube) / det;
        m.cube += g.distortion * (d.pass_norm_square * d.pass_cube - d.pass_cross * d.pass_square) / det;
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
    d.lost_earlier = 0;
    d.silent = silent;
    d.previous = d.model;
}

namespace {

// Locking on and learning: the loops fast, then narrow; a residue beyond the
// sanity share of the signal is no lock at all, and the stimulus is looked
// for afresh. While learning, each chunk's residue after the delay's refit
// into the histogram and its peak kept.
bool lock_chunk(monitor_detector& d, std::vector<monitor_event>& out)
{
    const bool learning = d.state == monitor_state::learn;
    const std::span<const float> y = monitor_ring_stretch(d, d.next, d.chunk);
    monitor_pass p = monitor_pass_of(d);
    std::fill(d.acc_re.begin(), d.acc_re.end(), 0.0);
    std::fill(d.acc_im.begin(), d.acc_im.end(), 0.0);
    p.acc_re = d.acc_re;
    p.acc_im = d.acc_im;
    p.limit = sanity_share * monitor_model_level(d.model);
    p.limit_level = 0.0;
    p.residue = std::span<double>(d.residue).first(y.size());
    p.derivative = std::span<double>(d.derivative).first(y.size());
    monitor_model_run(d.model, y, d.next, p);
    if (p.done < y.size()) {
        d.state = monitor_state::find;
        d.start = d.next + static_cast<int64_t>(p.done) + 1;
        return true;
    }
    // The residue with the delay's error projected out: what the threshold
    // will be applied to. (The distortion is learnt from what lies between
    // the tones, where the delay's error, at the tones, is not.)
    monitor_refit_sums s;
    s.d0 = d.sum_d0, s.d1 = d.sum_d1, s.d2 = d.sum_d2, s.r0 = d.sum_r0, s.r1 = d.sum_r1;
    monitor_refit_prepare(p.residue, p.derivative, s);
    const monitor_refit f = monitor_refit_even(s, 4);
    for (size_t n = 0; n < y.size(); n++)
        p.residue[n] -= p.derivative[n] * monitor_refit_at(f, static_cast<double>(n));
    d.pass_sum = p.sum;
    // The distortion from a pass at the refitted delay: while the loops pull
    // the delay in or follow a wander, their error at the tones' edges
    // leaked into c3 (3e-4 at -140 dBFS under 3 ppm of wander, a restart of
    // the learning).
    if (d.state != monitor_state::acquire)
        monitor_distortion_sums(d, d.model, y, d.next, f);
    if (learning && d.next >= d.learn_from) {
        double peak = 0.0;
        int64_t peak_at = d.next;
        for (size_t n = 0; n < y.size(); n++) {
            const double r = p.residue[n];
            const double db = r == 0.0 ? histogram_floor_db : 20.0 * std::log10(std::fabs(r));
            const double bin =
                std::clamp(std::floor((db - histogram_floor_db) * 4.0), 0.0, static_cast<double>(histogram_bins - 1));
            d.histogram[static_cast<size_t>(bin)]++;
            if (std::fabs(r) > peak)
                peak = std::fabs(r), peak_at = d.next + static_cast<int64_t>(n);
        }
        if (d.learn_chunks < static_cast<int64_t>(d.learn_peak.size())) {
            d.learn_peak[static_cast<size_t>(d.learn_chunks)] = peak;
            d.learn_peak_at[static_cast<size_t>(d.learn_chunks)] = peak_at;
            d.learn_chunks++;
        }
        d.learnt_level = std::max(d.learnt_level, p.peak_signal);
    }
    const double measured = update_loops(d, d.state == monitor_state::acquire ? acquire_gains
                                            : d.next < d.learn_from           ? settle_gains
                                                                              : track_gains);
    if (learning)
        monitor_drift_add(d.drift, static_cast<double>(d.next + d.chunk / 2 - d.start), measured + d.jumps);
    d.next += d.chunk;
    if (d.state == monitor_state::acquire && d.next >= d.phase_end) {
        learning_begin(d, settle_learn_seconds);
        d.summary.delay_start_frames = monitor_model_delay_at(d.model, d.next);
        d.summary.delay_start_at = d.next;
        d.reference_re = d.model.gain_re;
        d.reference_im = d.model.gain_im;
    } else if (learning && d.next >= d.phase_end) {
        if (!threshold_from_learning(d)) {
            learning_disturbed(d, out);
            learning_begin(d, 0.0);
            return true;
        }
        d.state = monitor_state::track;
        d.summary.aligned = true;
        d.clean_start = d.next;
        d.join = {};
    }
    return true;
}

}  // namespace

bool monitor_step_chunk(monitor_detector& d, std::vector<monitor_event>& out)
{
    if (d.next + d.chunk > d.fed_end)
        return false;
    if (d.state != monitor_state::track)
        return lock_chunk(d, out);
    const monitor_followed f = monitor_follow(d, d.model, d.next, d.chunk, true, d.join);
    if (!f.fits) {
        monitor_begin_search(d, f.over, false);
        return true;
    }
    if (!f.refit)
        monitor_cube_between_tones(d, d.acc_re, d.acc_im, static_cast<double>(d.chunk));
    const double measured = f.refit ? f.measured : update_loops(d, track_gains);
    const double t = static_cast<double>(d.next + d.chunk / 2 - d.start);
    monitor_drift_add(d.drift, t, measured + d.jumps);
    const monitor_rate_step step = monitor_rate_add(d.rate_watch, t, measured + d.jumps);
    if (step.found) {
        monitor_report_rate(d, step, out);
        monitor_drift_split(d.drift, step.frame);
    }
    d.next += d.chunk;
    d.summary.frames_checked += d.chunk;
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
