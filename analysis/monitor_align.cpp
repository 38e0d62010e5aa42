// The search for the capture's shift: phases first, then the samples.
#include "analysis/monitor_align.hpp"

#include <array>
#include <cmath>
#include <numbers>

namespace {

constexpr int candidates = 4;
// A stretch between two disturbances is short, and its phases less sure: more tried.
constexpr int run_candidates = 256;
constexpr double max_level_change_db = 20.0;

struct candidate {
    int64_t shift = 0;
    double score = -1e300;
    int sign = 1;
};

// Keeps c among the best, in order.
template <size_t count>
void keep_best(std::array<candidate, count>& best, candidate c)
{
    for (candidate& b : best)
        if (c.score > b.score)
            std::swap(c, b);
}

// sum_k weight_k Re(rho_k e^(-i w_k d)) for every integer d in -reach .. reach,
// keeping the best local maxima (and with both_signs, the best local minima
// as inverted ones, scored by their size). The rotations run on from one d
// to the next.
template <int count>
std::array<candidate, count> best_shifts(const monitor_model& m, int64_t reach, monitor_align_work& w,
                                         bool both_signs = false)
{
    const size_t tones = m.tones.size();
    std::span<double> z_re = w.pass.unit_re, z_im = w.pass.unit_im, t_re = w.pass.turn_re, t_im = w.pass.turn_im;
    for (size_t k = 0; k < tones; k++) {
        const double start = m.tones[k].omega * static_cast<double>(reach);  // e^(-i w (-reach))
        const double c = std::cos(start), s = std::sin(start);
        z_re[k] = w.rho_re[k] * c - w.rho_im[k] * s;
        z_im[k] = w.rho_re[k] * s + w.rho_im[k] * c;
        t_re[k] = std::cos(m.tones[k].omega);
        t_im[k] = -std::sin(m.tones[k].omega);
    }
    std::array<candidate, count> best{};
    double before = 0.0, current = 0.0;
    for (int64_t d = -reach; d <= reach + 1; d++) {
        double score = 0.0;
        if (d <= reach) {
            for (size_t k = 0; k < tones; k++) {
                score += w.weight[k] * z_re[k];
                const double re = z_re[k] * t_re[k] - z_im[k] * t_im[k];
                z_im[k] = z_re[k] * t_im[k] + z_im[k] * t_re[k];
                z_re[k] = re;
            }
        }
        // current (at d - 1) is a local maximum (or, inverted, a minimum): keep it among the best.
        const bool inside = d - 1 > -reach && d <= reach;
        if (inside && current >= before && current > score)
            keep_best(best, candidate{d - 1, current, 1});
        if (inside && both_signs && current <= before && current < score)
            keep_best(best, candidate{d - 1, -current, -1});
        before = current;
        current = score;
    }
    if (w.pass.work)
        *w.pass.work += static_cast<int64_t>(2 * reach + 1) * static_cast<int64_t>(tones);
    return best;
}

// The shift near d that the tones' phases give, to a fraction of a frame:
// the weighted least-squares slope of their phases against frequency (the
// ratios turned by pi first when inverted).
double refine(const monitor_model& m, const monitor_align_work& w, double d, int sign = 1)
{
    for (int pass = 0; pass < 2; pass++) {
        double num = 0.0, den = 0.0;
        for (size_t k = 0; k < m.tones.size(); k++) {
            const double omega = m.tones[k].omega;
            const double c = std::cos(omega * d), s = -std::sin(omega * d);
            const double re = sign * (w.rho_re[k] * c - w.rho_im[k] * s);
            const double im = sign * (w.rho_re[k] * s + w.rho_im[k] * c);
            num += w.weight[k] * omega * std::atan2(im, re);
            den += w.weight[k] * omega * omega;
        }
        d += num / den;
    }
    return d;
}

// The trial model: the shift (inverted with sign -1), and with level each tone's own change too.
void make_trial(const monitor_model& m, const monitor_align_work& w, double d, bool level, int sign = 1)
{
    monitor_model& t = *w.trial;
    t.tones = m.tones;
    t.gain_re = m.gain_re;
    t.gain_im = m.gain_im;
    for (size_t k = 0; k < m.tones.size(); k++)
        t.gain_re[k] *= sign, t.gain_im[k] *= sign;
    t.dc = m.dc;
    t.square = m.square;
    t.cube = m.cube;
    t.anchor = m.anchor;
    t.delay = m.delay - d;
    t.slope = m.slope;
    if (!level)
        return;
    // A gain change before the input's DC offset scales it too.
    t.dc = w.mean;
    for (size_t k = 0; k < m.tones.size(); k++) {
        const double c = std::cos(m.tones[k].omega * d), s = -std::sin(m.tones[k].omega * d);
        const double re = w.rho_re[k] * c - w.rho_im[k] * s, im = w.rho_re[k] * s + w.rho_im[k] * c;
        t.gain_re[k] = m.gain_re[k] * re - m.gain_im[k] * im;
        t.gain_im[k] = m.gain_re[k] * im + m.gain_im[k] * re;
    }
}

bool fits(std::span<const float> y, int64_t first, double peak_limit, double rms_limit, monitor_align_work& w)
{
    w.pass.limit = peak_limit;
    w.pass.acc_re = w.pass.acc_im = w.pass.residue = {};
    monitor_model_run(*w.trial, y, first, w.pass);
    return w.pass.done == y.size() && std::sqrt(w.pass.sum_squares / static_cast<double>(y.size())) <= rms_limit;
}

}  // namespace

void monitor_align_window(std::span<double> out)
{
    const double n = static_cast<double>(out.size());
    for (size_t i = 0; i < out.size(); i++) {
        const double x = 2.0 * std::numbers::pi * (static_cast<double>(i) + 0.5) / n;
        out[i] = 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2.0 * x) - 0.01168 * std::cos(3.0 * x);
    }
}

void monitor_align_ratios(const monitor_model& m, std::span<const float> y, int64_t first, monitor_align_work& w)
{
    monitor_pass& p = w.pass;
    monitor_model_phasors(m, first, p);
    const size_t tones = m.tones.size();
    for (size_t k = 0; k < tones; k++)
        w.rho_re[k] = w.rho_im[k] = 0.0;
    double total = 0.0, sum = 0.0;
    for (size_t n = 0; n < w.window.size(); n++) {
        const double v = w.window[n] * (static_cast<double>(y[n]) - m.dc);
        total += w.window[n];
        sum += w.window[n] * static_cast<double>(y[n]);
        for (size_t k = 0; k < tones; k++) {
            w.rho_re[k] += v * p.unit_re[k];
            w.rho_im[k] -= v * p.unit_im[k];
            const double re = p.unit_re[k] * p.turn_re[k] - p.unit_im[k] * p.turn_im[k];
            p.unit_im[k] = p.unit_re[k] * p.turn_im[k] + p.unit_im[k] * p.turn_re[k];
            p.unit_re[k] = re;
        }
    }
    if (p.work)
        *p.work += static_cast<int64_t>(w.window.size() * tones);
    // The Blackman-Harris window keeps the tones out of the mean to 92 dB.
    w.mean = sum / total;
    // y's tone k is Im(g_k e^(i phase)) = (g_k e^(i phase) - conj) / 2i: 2i x
    // its mean against e^(-i phase), over g_k, is the ratio sought.
    for (size_t k = 0; k < tones; k++) {
        const double a_re = -2.0 * w.rho_im[k] / total, a_im = 2.0 * w.rho_re[k] / total;
        const double g_re = m.gain_re[k], g_im = m.gain_im[k], g2 = g_re * g_re + g_im * g_im;
        w.rho_re[k] = (a_re * g_re + a_im * g_im) / g2;
        w.rho_im[k] = (a_im * g_re - a_re * g_im) / g2;
        w.weight[k] = g2;
    }
}

monitor_run_shift monitor_align_run(const monitor_model& m, std::span<const float> y, int64_t first, int64_t reach,
                                    double peak_limit, int64_t least, bool both_signs, monitor_align_work& w,
                                    std::span<double> residue)
{
    monitor_align_ratios(m, y, first, w);
    monitor_run_shift best;
    monitor_model kept = *w.trial;
    for (const candidate& c : best_shifts<run_candidates>(m, reach, w, both_signs)) {
        if (c.score <= 0.0)
            continue;
        // A short stretch's phases refine the shift to a few hundredths of a
        // frame only; a slip's is whole in the playback's frames or the
        // capture's (which differ by the slope), and those are tried as well.
        const double d = refine(m, w, static_cast<double>(c.shift), c.sign);
        const double whole_capture = std::nearbyint(d / (1.0 - m.slope)) * (1.0 - m.slope);
        const std::array<double, 3> tries{d, std::nearbyint(d), whole_capture};
        for (size_t i = 0; i < tries.size(); i++) {
            // The same shift twice (on one clock the two whole readings agree) leaves the same run.
            const double tried = tries[i];
            if ((i >= 1 && tried == tries[0]) || (i == 2 && tried == tries[1]))
                continue;
            make_trial(m, w, tried, false, c.sign);
            w.pass.limit = 0.0;
            w.pass.acc_re = w.pass.acc_im = {};
            w.pass.residue = residue.first(y.size());
            monitor_model_run(*w.trial, y, first, w.pass);
            w.pass.residue = {};
            int64_t from = 0;
            for (int64_t n = 0; n <= static_cast<int64_t>(y.size()); n++) {
                if (n < static_cast<int64_t>(y.size()) && std::fabs(residue[static_cast<size_t>(n)]) <= peak_limit)
                    continue;
                // The earliest run: after it, a repeat may bring back frames from before the first disturbance.
                if (n - from >= least &&
                    (!best.found || from < best.run_first || (from == best.run_first && n > best.run_end))) {
                    best = {true, tried, c.sign, from, n};
                    kept = *w.trial;
                }
                from = n + 1;
            }
        }
    }
    *w.trial = kept;
    return best;
}

int monitor_align_candidates(const monitor_model& m, int64_t reach, monitor_align_work& w,
                             std::span<monitor_candidate> out)
{
    int n = 0;
    for (const candidate& c : best_shifts<monitor_align_candidates_most>(m, reach, w, true)) {
        if (c.score <= 0.0 || n >= static_cast<int>(out.size()))
            continue;
        out[static_cast<size_t>(n++)] = {refine(m, w, static_cast<double>(c.shift), c.sign), c.sign, c.score};
    }
    return n;
}

void monitor_align_trial(const monitor_model& m, const monitor_align_work& w, const monitor_candidate& c, bool level)
{
    make_trial(m, w, c.frames, level, c.sign);
}

void monitor_align_common_gain(const monitor_model& a, const monitor_model& b, double& re, double& im)
{
    double power = 0.0;
    re = im = 0.0;
    for (size_t k = 0; k < a.tones.size(); k++) {
        // b_k conj(a_k)
        re += b.gain_re[k] * a.gain_re[k] + b.gain_im[k] * a.gain_im[k];
        im += b.gain_im[k] * a.gain_re[k] - b.gain_re[k] * a.gain_im[k];
        power += a.gain_re[k] * a.gain_re[k] + a.gain_im[k] * a.gain_im[k];
    }
    if (power > 0.0)
        re /= power, im /= power;
}

monitor_shift monitor_align(const monitor_model& m, std::span<const float> y, int64_t first, int64_t reach,
                            double peak_limit, double rms_limit, bool allow_level, monitor_align_work& w)
{
    const std::span<const float> window_frames = y.first(w.window.size());
    monitor_align_ratios(m, window_frames, first, w);
    monitor_shift found;
    for (const candidate& c : best_shifts<candidates>(m, reach, w)) {
        if (c.score <= 0.0)
            continue;
        const double d = refine(m, w, static_cast<double>(c.shift));
        make_trial(m, w, d, false);
        if (fits(window_frames, first, peak_limit, rms_limit, w)) {
            found.found = true;
            found.frames = d;
            return found;
        }
        if (!allow_level)
            continue;
        make_trial(m, w, d, true);
        double before = 0.0, after = 0.0;
        for (size_t k = 0; k < m.tones.size(); k++) {
            before += w.weight[k];
            after += w.trial->gain_re[k] * w.trial->gain_re[k] + w.trial->gain_im[k] * w.trial->gain_im[k];
        }
        // A change of more than 20 dB is no change of level but the signal
        // gone (silence fits a model of silence) or another one.
        const double level_db = 10.0 * std::log10(after / before);
        if (std::fabs(level_db) <= max_level_change_db && fits(window_frames, first, peak_limit, rms_limit, w)) {
            found.found = true;
            found.frames = d;
            found.level_changed = true;
            found.level_db = level_db;
            return found;
        }
    }
    return found;
}
