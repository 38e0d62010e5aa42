// The detector's course: find the stimulus, lock onto it, learn the residue,
// then check every frame; after a disturbance, find the alignment again and
// say what happened.
#include "analysis/monitor.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace {

constexpr double threshold_sigmas = 8.0;      // see docs/monitor.md for the false alarms this gives
constexpr double threshold_floor_db = -100.0; // of the signal: a digital loop's rounding is no glitch
constexpr double settle_seconds = 0.05;       // after the stimulus's answer arrives: the converters' filters fill
constexpr double acquire_seconds = 0.25, learn_seconds = 0.25;
constexpr double lost_seconds = 0.15, epoch_seconds = 0.1, xrun_near_seconds = 0.05;
constexpr double find_reach_seconds = 0.02, search_reach_seconds = 0.25;
constexpr double sanity_share = 0.3;          // while locking on: a residue this large restarts the search
constexpr double histogram_floor_db = -240.0; // quarter-decibel bins above it, up to 0 dB
constexpr int64_t histogram_bins = 960;
constexpr double infinity = std::numeric_limits<double>::infinity();

// The delay-locked loop's gains per chunk (a second-order loop: delay and
// slope) and the gains' and dc's adaptation. Locking on: about 15 Hz wide;
// tracking: about 3 Hz, still following a 200 ppm slide with no lag.
struct loop_gains {
    double delay, slope, gain, dc;
};
constexpr loop_gains acquire_gains{0.7, 0.25, 0.3, 0.3};
constexpr loop_gains track_gains{0.14, 0.01, 0.01, 0.01};

int64_t pow2_at_least(double frames)
{
    int64_t n = 1;
    while (static_cast<double>(n) < frames)
        n *= 2;
    return n;
}

int64_t seconds(const monitor_detector& d, double s) { return static_cast<int64_t>(std::llround(s * d.rate)); }

float ring_at(const monitor_detector& d, int64_t frame)
{
    return d.ring[static_cast<size_t>(frame) & (d.ring.size() - 1)];
}

// Frames first .. first + count - 1 (all in the ring) into d.frames.
std::span<const float> ring_stretch(monitor_detector& d, int64_t first, int64_t count)
{
    for (int64_t n = 0; n < count; n++)
        d.frames[n] = ring_at(d, first + n);
    return std::span<const float>(d.frames).first(static_cast<size_t>(count));
}

// The oldest frame still in the ring and valid.
int64_t oldest(const monitor_detector& d)
{
    return std::max(d.valid_from, d.fed_end - static_cast<int64_t>(d.ring.size()));
}

monitor_pass pass_of(monitor_detector& d)
{
    monitor_pass p;
    p.unit_re = d.unit_re;
    p.unit_im = d.unit_im;
    p.turn_re = d.turn_re;
    p.turn_im = d.turn_im;
    return p;
}

monitor_align_work align_of(monitor_detector& d)
{
    monitor_align_work w;
    w.rho_re = d.rho_re;
    w.rho_im = d.rho_im;
    w.weight = d.weight;
    w.window = d.window_weights;
    w.pass = pass_of(d);
    w.trial = &d.trial;
    return w;
}

void adopt_trial(monitor_detector& d)
{
    d.model.gain_re = d.trial.gain_re;
    d.model.gain_im = d.trial.gain_im;
    d.model.delay = d.trial.delay;
}

bool xrun_near(const monitor_detector& d, int64_t frame)
{
    const int64_t margin = seconds(d, xrun_near_seconds);
    const int64_t kept = std::min<int64_t>(d.xrun_count, static_cast<int64_t>(d.xrun_first.size()));
    for (int64_t i = 0; i < kept; i++)
        if (frame >= d.xrun_first[i] - margin && frame < d.xrun_end[i] + margin)
            return true;
    return false;
}

void report(monitor_detector& d, monitor_event e, std::vector<monitor_event>& out)
{
    e.xrun_flagged = xrun_near(d, e.frame);
    out.push_back(e);
    if (d.events.size() < d.event_cap)
        d.events.push_back(e);
    else
        d.summary.events_not_listed++;
    d.summary.events++;
    d.summary.by_kind[static_cast<size_t>(e.kind)]++;
}

// ---- drift: the chunks' delays, by epochs, on a least-squares line.

void drift_add(monitor_detector& d, double t, double delay)
{
    d.epoch_t += t;
    d.epoch_delay += delay;
    if (++d.epoch_count < d.epoch_chunks)
        return;
    // Welford's running co-moments, in frames relative to the start.
    const double x = d.epoch_t / static_cast<double>(d.epoch_count), y = d.epoch_delay / static_cast<double>(d.epoch_count);
    d.epoch_t = d.epoch_delay = 0.0;
    d.epoch_count = 0;
    d.line_n += 1.0;
    const double dx = x - d.line_mx, dy = y - d.line_my;
    d.line_mx += dx / d.line_n;
    d.line_my += dy / d.line_n;
    d.line_sxx += dx * (x - d.line_mx);
    d.line_sxy += dx * (y - d.line_my);
    d.line_syy += dy * (y - d.line_my);
}

// ---- locking on and tracking: one chunk at a time.

void threshold_from_histogram(monitor_detector& d)
{
    int64_t total = 0;
    for (const int64_t c : d.histogram)
        total += c;
    int64_t seen = 0, bin = 0;
    while (bin < histogram_bins - 1 && 2 * (seen + d.histogram[bin]) < total)
        seen += d.histogram[bin++];
    // The median |r| of a Gaussian residue is 0.6745 sigma.
    const double median = std::pow(10.0, (histogram_floor_db + 0.25 * (static_cast<double>(bin) + 0.5)) / 20.0);
    const double level = monitor_model_level(d.model);
    d.summary.threshold = std::max(threshold_sigmas * 1.4826 * median, level * std::pow(10.0, threshold_floor_db / 20.0));
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
    const int64_t end = d.next + d.chunk;
    m.delay = monitor_model_delay_at(m, end) + g.delay * error;
    m.slope += g.slope * error / frames;
    m.anchor = end;
    return measured;
}

void begin_search(monitor_detector& d, int64_t frame, bool silent)
{
    if (d.state == monitor_state::track && frame - d.clean_start > d.summary.longest_clean_frames) {
        d.summary.longest_clean_frames = frame - d.clean_start;
        d.summary.longest_clean_from = d.clean_start;
    }
    d.state = monitor_state::search;
    d.trigger = d.attempt = frame;
    d.lost_reported = false;
    d.silent = silent;
    d.epoch_t = d.epoch_delay = 0.0;
    d.epoch_count = 0;
}

bool step_chunk(monitor_detector& d)
{
    if (d.next + d.chunk > d.fed_end)
        return false;
    const std::span<const float> y = ring_stretch(d, d.next, d.chunk);
    monitor_pass p = pass_of(d);
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
            begin_search(d, d.next + static_cast<int64_t>(p.done), false);
        } else {
            // Lost while locking on: look for the stimulus afresh.
            d.state = monitor_state::find;
            d.start = d.next + static_cast<int64_t>(p.done) + 1;
        }
        return true;
    }
    if (learning) {
        d.learnt_peak = std::max(d.learnt_peak, p.peak);
        for (const double r : p.residue) {
            const double db = r == 0.0 ? histogram_floor_db : 20.0 * std::log10(std::fabs(r));
            const double bin = std::clamp(std::floor((db - histogram_floor_db) * 4.0), 0.0, static_cast<double>(histogram_bins - 1));
            d.histogram[static_cast<size_t>(bin)]++;
        }
    }
    const double measured = update_loops(d, p, d.state == monitor_state::acquire ? acquire_gains : track_gains);
    if (d.state != monitor_state::acquire)
        drift_add(d, static_cast<double>(d.next + d.chunk / 2 - d.start), measured + d.jumps);
    d.next += d.chunk;
    if (tracking)
        d.summary.frames_checked += d.chunk;
    if (d.state == monitor_state::acquire && d.next >= d.phase_end) {
        d.state = monitor_state::learn;
        d.phase_end = d.next + seconds(d, learn_seconds);
        d.summary.delay_start_frames = monitor_model_delay_at(d.model, d.next);
        d.summary.delay_start_at = d.next;
        std::fill(d.histogram.begin(), d.histogram.end(), 0);
        d.learnt_peak = 0.0;
    } else if (learning && d.next >= d.phase_end) {
        threshold_from_histogram(d);
        d.state = monitor_state::track;
        d.clean_start = d.next;
    }
    return true;
}

// Looks for the stimulus in the first window after start: the given latency
// within 20 ms, each tone's gain and phase as they come.
bool step_find(monitor_detector& d)
{
    d.start = std::max(d.start, oldest(d));
    if (d.start + d.window > d.fed_end)
        return false;
    const std::span<const float> y = ring_stretch(d, d.start, d.window);
    monitor_align_work w = align_of(d);
    const double level = monitor_model_level(d.model);
    const monitor_shift s = monitor_align(d.model, y, d.start, seconds(d, find_reach_seconds), infinity, 0.1 * level, true, w);
    if (!s.found) {
        d.start += d.window;
        return true;
    }
    adopt_trial(d);
    d.model.slope = 0.0;
    d.state = monitor_state::acquire;
    d.next = d.start + d.window;
    d.phase_end = d.next + seconds(d, acquire_seconds);
    d.jumps = 0.0;
    d.line_n = d.line_mx = d.line_my = d.line_sxx = d.line_sxy = d.line_syy = 0.0;
    d.epoch_t = d.epoch_delay = 0.0;
    d.epoch_count = 0;
    return true;
}

// The stretch of near-silence (|y| within the threshold) around frame:
// [first, end). end == fed_end when it has not ended yet or lasts 0.15 s.
void quiet_run(const monitor_detector& d, int64_t frame, int64_t& first, int64_t& end)
{
    const double limit = d.summary.threshold;
    first = end = frame;
    if (std::fabs(ring_at(d, frame)) > limit)
        return;
    const int64_t low = std::max(oldest(d), frame - 4);
    while (first > low && std::fabs(ring_at(d, first - 1)) <= limit)
        first--;
    const int64_t high = std::min(d.fed_end, frame + seconds(d, lost_seconds));
    while (end < high && std::fabs(ring_at(d, end)) <= limit)
        end++;
    if (end == high && high < d.fed_end)
        end = d.fed_end;  // at least as long as the search waits: as good as unending
}

// The earliest frame from which the (adopted) model fits every frame up to
// end, looking back to low.
int64_t fit_from(monitor_detector& d, int64_t low, int64_t end)
{
    if (end <= low)
        return end;
    const std::span<const float> y = ring_stretch(d, low, end - low);
    monitor_pass p = pass_of(d);
    p.residue = std::span<double>(d.residue).first(y.size());
    monitor_model_run(d.model, y, low, p);
    int64_t n = end - low;
    while (n > 0 && std::fabs(p.residue[n - 1]) <= d.summary.threshold)
        n--;
    return low + n;
}

monitor_event classify(const monitor_detector& d, const monitor_shift& s, int64_t quiet_first, int64_t quiet_end, int64_t fits)
{
    // The shift in captured frames: a drop of N captured frames moves the
    // stimulus on by N (1 - slope) of its own.
    const double captured = s.frames / (1.0 - d.model.slope);
    const int64_t whole = std::llrint(captured);
    const bool pure = !s.level_changed && std::fabs(captured - static_cast<double>(whole)) <= 0.1;
    const int64_t quiet = quiet_end - quiet_first;
    monitor_event e;
    e.frame = quiet > 0 ? std::min(d.trigger, quiet_first) : d.trigger;
    e.delay_change = -s.frames;
    e.level_db = s.level_db;
    if (pure && whole > 0) {
        e.kind = monitor_kind::dropped;
        e.frames = whole;
    } else if (pure && whole < 0) {
        e.kind = monitor_kind::inserted;
        e.frames = -whole;
    } else if (pure && quiet > 0 && fits <= quiet_end + 2) {
        e.kind = monitor_kind::zeros;
        e.frames = quiet;
    } else {
        e.kind = monitor_kind::discontinuity;
        e.frames = std::max<int64_t>(0, fits - e.frame);
    }
    return e;
}

// Once the search has looked 0.15 s past the disturbance's start in vain
// (reached: the frame it has looked up to), says so.
void report_lost(monitor_detector& d, int64_t reached, std::vector<monitor_event>& out)
{
    if (d.lost_reported || d.silent || reached - d.trigger < seconds(d, lost_seconds))
        return;
    report(d, monitor_event{d.trigger, monitor_kind::lost, 0, 0.0, 0.0, false}, out);
    d.lost_reported = true;
}

// After a disturbance: tries a window past it for the new alignment, moving
// on while none is found; reports what happened once one is.
bool step_search(monitor_detector& d, std::vector<monitor_event>& out)
{
    int64_t quiet_first = d.trigger, quiet_end = d.trigger;
    if (!d.lost_reported && d.trigger >= oldest(d)) {
        quiet_run(d, d.trigger, quiet_first, quiet_end);
        // Silence longer than the search waits is the stimulus lost, however
        // the blocks fell; shorter, the search waits for the silence's end.
        report_lost(d, quiet_end, out);
        if (!d.lost_reported) {
            if (quiet_end == d.fed_end)
                return false;
            d.attempt = std::max(d.attempt, quiet_end);
        }
    }
    d.attempt = std::max(d.attempt, oldest(d));
    if (d.attempt + d.window > d.fed_end)
        return false;
    const std::span<const float> y = ring_stretch(d, d.attempt, d.window);
    monitor_align_work w = align_of(d);
    const monitor_shift s = monitor_align(d.model, y, d.attempt, d.reach, d.summary.threshold, infinity, true, w);
    if (!s.found) {
        d.attempt += d.lost_reported ? 4 * d.window : d.window / 4;
        report_lost(d, d.attempt, out);
        return true;
    }
    adopt_trial(d);
    d.jumps += s.frames;
    const int64_t low = std::max(oldest(d), d.trigger - 4);
    const int64_t fits = fit_from(d, low, d.attempt);
    if (!d.lost_reported && !d.silent)
        report(d, classify(d, s, quiet_first, quiet_end, fits), out);
    d.summary.frames_unchecked += d.attempt - d.trigger;
    d.clean_start = std::max(fits, d.trigger);
    d.next = d.attempt;
    d.state = monitor_state::track;
    return true;
}

void process(monitor_detector& d, std::vector<monitor_event>& out)
{
    for (;;) {
        bool progressed = false;
        switch (d.state) {
        case monitor_state::find: progressed = step_find(d); break;
        case monitor_state::search: progressed = step_search(d, out); break;
        default: progressed = step_chunk(d); break;
        }
        if (!progressed)
            return;
    }
}

void note_xrun(monitor_detector& d, int64_t first, int64_t end)
{
    const size_t slot = static_cast<size_t>(d.xrun_count) % d.xrun_first.size();
    d.xrun_first[slot] = first;
    d.xrun_end[slot] = end;
    d.xrun_count++;
    d.summary.xrun_blocks++;
}

}  // namespace

const char* monitor_kind_name(monitor_kind kind)
{
    switch (kind) {
    case monitor_kind::dropped: return "dropped";
    case monitor_kind::inserted: return "inserted";
    case monitor_kind::zeros: return "zeros";
    case monitor_kind::discontinuity: return "discontinuity";
    case monitor_kind::lost: return "lost";
    }
    return "?";
}

monitor_detector monitor_detector_make(const monitor_stimulus& s, const monitor_loop& loop, size_t event_cap)
{
    if (!(loop.latency >= 0.0 && loop.latency <= 1e7))
        throw std::invalid_argument("monitor: the latency must lie within 0 .. 1e7 frames");
    if (!(std::fabs(loop.gain) >= 1e-4 && std::fabs(loop.gain) <= 100.0))
        throw std::invalid_argument("monitor: the loop's gain must lie within 1e-4 .. 100 (or -100 .. -1e-4)");
    if (s.tones.empty())
        throw std::invalid_argument("monitor: a stimulus without tones");
    monitor_detector d;
    d.rate = s.rate;
    const size_t tones = s.tones.size();
    d.model.tones = s.tones;
    d.model.gain_re.assign(tones, 0.0);
    d.model.gain_im.assign(tones, 0.0);
    for (size_t k = 0; k < tones; k++)
        d.model.gain_re[k] = loop.gain * s.tones[k].amplitude;
    d.start = loop.first_played + static_cast<int64_t>(std::ceil(loop.latency)) + seconds(d, settle_seconds);
    d.model.anchor = d.start;
    d.model.delay = loop.latency;
    d.trial = d.model;
    // About 5 ms chunks for the loops, 21 ms windows for the alignment (256
    // and 1024 frames at 48 kHz, whatever the rate the same in time).
    d.chunk = pow2_at_least(s.rate / 200.0);
    d.window = 4 * d.chunk;
    d.reach = seconds(d, search_reach_seconds);
    d.epoch_chunks = std::max<int64_t>(1, std::llround(epoch_seconds * s.rate / static_cast<double>(d.chunk)));
    d.ring.assign(static_cast<size_t>(pow2_at_least(0.6 * s.rate)), 0.0f);
    d.frames.assign(d.ring.size(), 0.0f);
    d.residue.assign(d.ring.size(), 0.0);
    for (auto* v : {&d.unit_re, &d.unit_im, &d.turn_re, &d.turn_im, &d.acc_re, &d.acc_im, &d.rho_re, &d.rho_im, &d.weight})
        v->assign(tones, 0.0);
    d.window_weights.assign(static_cast<size_t>(d.window), 0.0);
    monitor_align_window(d.window_weights);
    d.histogram.assign(histogram_bins, 0);
    d.event_cap = event_cap;
    d.events.reserve(event_cap);
    return d;
}

void monitor_feed(monitor_detector& d, std::span<const float> block, int64_t first_frame, bool xrun,
                  std::vector<monitor_event>& events)
{
    if (!d.fed_any) {
        d.fed_end = d.valid_from = first_frame;
        d.fed_any = true;
    }
    if (first_frame > d.fed_end) {
        // Frames the caller never had: skipped, and the alignment looked for afresh after them.
        d.summary.frames_skipped += first_frame - d.fed_end;
        d.fed_end = d.valid_from = first_frame;
        if (d.state == monitor_state::track || d.state == monitor_state::search)
            begin_search(d, first_frame, true);
        else if (d.state != monitor_state::find)
            d.state = monitor_state::find, d.start = first_frame;
    }
    // Frames already fed are not fed twice.
    const int64_t overlap = std::min<int64_t>(static_cast<int64_t>(block.size()), d.fed_end - first_frame);
    block = block.subspan(static_cast<size_t>(std::max<int64_t>(0, overlap)));
    if (xrun)
        note_xrun(d, first_frame, first_frame + static_cast<int64_t>(block.size()));
    // A quarter of the ring at a time, so that a long block never overwrites
    // frames the search still reads.
    const size_t piece = d.ring.size() / 4;
    while (!block.empty()) {
        const size_t n = std::min(piece, block.size());
        for (size_t i = 0; i < n; i++)
            d.ring[static_cast<size_t>(d.fed_end + static_cast<int64_t>(i)) & (d.ring.size() - 1)] = block[i];
        d.fed_end += static_cast<int64_t>(n);
        block = block.subspan(n);
        process(d, events);
    }
}

monitor_summary monitor_summarise(const monitor_detector& d)
{
    monitor_summary s = d.summary;
    if (d.line_n >= 2.0 && d.line_sxx > 0.0)
        s.drift_ppm = 1e6 * d.line_sxy / d.line_sxx;
    if (d.line_n >= 3.0 && d.line_sxx > 0.0) {
        const double spread = std::max(0.0, d.line_syy - d.line_sxy * d.line_sxy / d.line_sxx) / (d.line_n - 2.0);
        s.drift_ppm_uncertainty = 1e6 * std::sqrt(spread / d.line_sxx);
    }
    s.delay_end_frames = monitor_model_delay_at(d.model, d.next);
    s.delay_end_at = d.next;
    if (d.state == monitor_state::track && d.next - d.clean_start > s.longest_clean_frames) {
        s.longest_clean_frames = d.next - d.clean_start;
        s.longest_clean_from = d.clean_start;
    }
    return s;
}

std::span<const monitor_event> monitor_events(const monitor_detector& d) { return d.events; }

int64_t monitor_capture_copy(const monitor_detector& d, int64_t first_frame, std::span<float> out)
{
    int64_t there = 0;
    const int64_t low = d.fed_any ? oldest(d) : 0;
    for (size_t i = 0; i < out.size(); i++) {
        const int64_t frame = first_frame + static_cast<int64_t>(i);
        const bool held = d.fed_any && frame >= low && frame < d.fed_end;
        out[i] = held ? ring_at(d, frame) : 0.0f;
        there += held ? 1 : 0;
    }
    return there;
}

int64_t monitor_frames_fed(const monitor_detector& d) { return d.fed_end; }
