// After a disturbance: the alignment found again, what happened, the events.
#include <algorithm>
#include <cmath>

#include "analysis/monitor_steps.hpp"

bool monitor_xrun_near(const monitor_detector& d, int64_t frame)
{
    // From 50 ms before the flagged frames (a capture's overflow shows at
    // once, its flag comes with the call after) to 50 ms after them plus the
    // loop's latency (a playback underrun reaches the capture a round trip later).
    const int64_t margin = monitor_seconds(d, monitor_xrun_near_s);
    const int64_t trip = static_cast<int64_t>(std::ceil(d.latency));
    const int64_t kept = std::min<int64_t>(d.xrun_count, static_cast<int64_t>(d.xrun_first.size()));
    for (int64_t i = 0; i < kept; i++)
        if (frame >= d.xrun_first[i] - margin && frame < d.xrun_end[i] + margin + trip)
            return true;
    return false;
}

void monitor_report(monitor_detector& d, monitor_event e, std::vector<monitor_event>& out)
{
    e.xrun_flagged = monitor_xrun_near(d, e.frame);
    out.push_back(e);
    // A glitch breaks the delay's line the rate is watched on; a search that found no glitch does not.
    if (monitor_kind_is_glitch(e.kind))
        monitor_rate_clear(d.rate_watch);
    d.summary.by_kind[static_cast<size_t>(e.kind)]++;
    // The stimulus found again is no glitch of its own: it closes the lost one.
    if (e.kind == monitor_kind::found) {
        if (d.lost_listed < d.events.size())
            d.events[d.lost_listed].frames = e.frames;
        return;
    }
    if (e.kind == monitor_kind::lost)
        d.lost_listed = d.events.size() < d.event_cap ? d.events.size() : d.event_cap;
    if (d.events.size() < d.event_cap)
        d.events.push_back(e);
    else
        d.summary.events_not_listed++;
    (monitor_kind_is_glitch(e.kind) ? d.summary.events : d.summary.changes)++;
}

void monitor_report_rate(monitor_detector& d, const monitor_rate_step& step, std::vector<monitor_event>& out)
{
    monitor_event e;
    e.kind = monitor_kind::rate;
    e.frame = d.start + std::llrint(step.frame);
    e.rate_before_ppm = 1e6 * step.before;
    e.rate_after_ppm = 1e6 * step.after;
    monitor_report(d, e, out);
}

monitor_slip monitor_slip_of(double shift, double slope)
{
    // A slip of N playback frames moves the stimulus on by N of its own
    // (playback frame i plays stimulus frame i); one of N captured frames by
    // N (1 - slope), slope the delay's growth per captured frame.
    const double in_playback = shift, in_capture = shift / (1.0 - slope);
    const double off_playback = std::fabs(in_playback - std::nearbyint(in_playback));
    const double off_capture = std::fabs(in_capture - std::nearbyint(in_capture));
    monitor_slip slip;
    slip.whole = std::min(off_playback, off_capture) <= monitor_slip_tolerance;
    if (!slip.whole)
        return slip;
    // Told apart only where the two readings differ by more than the shift's own error can.
    const bool capture = off_capture <= off_playback;
    slip.frames = std::llrint(capture ? in_capture : in_playback);
    if (std::fabs(off_capture - off_playback) >= monitor_side_resolution)
        slip.side = capture ? monitor_side::capture : monitor_side::playback;
    return slip;
}

namespace {

// The clocks' offsets tried after the stimulus was lost, beside the model's
// own, one an attempt in turn: the window's refit of the slope pulls in
// 150 ppm either way, so the clock may have moved anywhere within 1000 ppm
// while the stimulus was gone.
constexpr double lost_slopes_ppm[] = {150.0,  -150.0, 300.0,  -300.0, 450.0,  -450.0, 600.0,
                                      -600.0, 750.0,  -750.0, 900.0,  -900.0, 1050.0, -1050.0};
constexpr int lost_slopes = sizeof lost_slopes_ppm / sizeof lost_slopes_ppm[0];
constexpr int line_passes = 3;
constexpr double quick_share = 0.3;  // a trial whose residue's RMS is beyond this share of the signal is no fit

// Silence at frame: digital zero or the loop's own DC.
bool quiet_at(const monitor_detector& d, int64_t frame)
{
    const double y = monitor_ring_at(d, frame), limit = d.summary.threshold;
    return std::fabs(y) <= limit || std::fabs(y - d.model.dc) <= limit;
}

// The stretch of silence around frame: [first, end). end == fed_end when it
// has not ended yet or lasts 0.15 s.
void quiet_run(const monitor_detector& d, int64_t frame, int64_t& first, int64_t& end)
{
    first = end = frame;
    if (!quiet_at(d, frame))
        return;
    const int64_t low = std::max(monitor_ring_oldest(d), frame - 4);
    while (first > low && quiet_at(d, first - 1))
        first--;
    const int64_t high = std::min(d.fed_end, frame + monitor_seconds(d, lost_seconds));
    while (end < high && quiet_at(d, end))
        end++;
    if (end == high && high < d.fed_end)
        end = d.fed_end;  // at least as long as the search waits: as good as unending
}

// The delay's line over frames [first, first + count) fitted into m: its
// value and slope by least squares on the residue's derivative, run again
// at the new delay, a few times.
void fit_line(monitor_detector& d, monitor_model& m, std::span<const float> y, int64_t first)
{
    monitor_refit_sums s;
    s.d0 = d.sum_d0, s.d1 = d.sum_d1, s.d2 = d.sum_d2, s.r0 = d.sum_r0, s.r1 = d.sum_r1;
    const int64_t count = static_cast<int64_t>(y.size());
    const std::array<int64_t, 2> knots{0, count};
    for (int pass = 0; pass < line_passes; pass++) {
        monitor_pass p = monitor_pass_of(d);
        p.residue = std::span<double>(d.residue).first(y.size());
        p.derivative = std::span<double>(d.derivative).first(y.size());
        monitor_model_run(m, y, first, p);
        monitor_refit_prepare(p.residue, p.derivative, s);
        const monitor_refit f = monitor_refit_solve(s, knots);
        if (!f.solved)
            return;
        monitor_model_move(m, first, f.value[0], (f.value[1] - f.value[0]) / static_cast<double>(count));
    }
}

// Whether a window of the capture from frame at fits the model before the
// disturbance moved by a shift of the tones' phases (either polarity), with
// its slope fitted and, failing that, each tone's gain and phase as they
// came: followed chunk by chunk, every frame within the threshold after the
// delay's refit. found_start: the model at the window's start; found_end:
// at its end. extra_ppm: an offset of the clock tried beside the model's.
bool try_window(monitor_detector& d, int64_t at, double extra_ppm, monitor_model& found_start, monitor_model& found_end,
                monitor_join& found_join)
{
    const std::span<const float> y = monitor_ring_copy(d, at, d.window, d.frames);
    monitor_align_work w = monitor_align_of(d);
    monitor_model base = d.previous;
    monitor_model_move(base, at, 0.0, extra_ppm * 1e-6);
    monitor_align_ratios(base, y, at, w);
    std::array<monitor_candidate, monitor_align_candidates_most> candidates{};
    const int n = monitor_align_candidates(base, d.reach, w, candidates);
    const double level = monitor_model_level(base);
    double before = 0.0;
    for (size_t k = 0; k < base.tones.size(); k++)
        before += base.gain_re[k] * base.gain_re[k] + base.gain_im[k] * base.gain_im[k];
    for (int i = 0; i < n; i++)
        for (const bool changed : {false, true}) {
            monitor_align_trial(base, w, candidates[static_cast<size_t>(i)], changed);
            monitor_model trial = d.trial;
            if (changed) {
                // A change of more than 20 dB is no change of level but the
                // signal gone (silence fits a model of silence) or another one.
                double after = 0.0;
                for (size_t k = 0; k < trial.tones.size(); k++)
                    after += trial.gain_re[k] * trial.gain_re[k] + trial.gain_im[k] * trial.gain_im[k];
                if (!(std::fabs(10.0 * std::log10(after / before)) <= max_level_change_db))
                    continue;
            }
            // A quick look first: a wrong shift leaves a residue as large as the signal.
            monitor_pass p = monitor_pass_of(d);
            monitor_model_run(trial, y, at, p);
            if (std::sqrt(p.sum_squares / static_cast<double>(y.size())) > quick_share * level)
                continue;
            fit_line(d, trial, y, at);
            found_start = trial;
            int64_t over = 0;
            monitor_join join;
            if (monitor_follow_stretch(d, trial, at, d.window, over, join)) {
                found_end = trial;
                found_join = join;
                return true;
            }
        }
    return false;
}

// The earliest frame from which model m (at frame end) fits every frame up to end, looking back to low.
int64_t fit_from(monitor_detector& d, const monitor_model& m, int64_t low, int64_t end)
{
    if (end <= low)
        return end;
    const std::span<const float> y = monitor_ring_copy(d, low, end - low, d.stretch_frames);
    monitor_pass p = monitor_pass_of(d);
    p.limit = d.summary.threshold;
    p.stop = false;
    monitor_model_run(m, y, low, p);
    return low + p.last_over + 1;
}

// Once the search has looked 0.15 s past the disturbance's start in vain
// (reached: the frame it has looked up to), says so.
void report_lost(monitor_detector& d, int64_t reached, std::vector<monitor_event>& out)
{
    if (d.lost_reported || d.silent || reached - d.trigger < monitor_seconds(d, lost_seconds))
        return;
    monitor_event e;
    e.frame = d.trigger, e.kind = monitor_kind::lost;
    monitor_report(d, e, out);
    d.lost_reported = true;
}

}  // namespace

// After a disturbance: tries a window past it for the new alignment, moving
// on while none is found; reports what happened once one is.
bool monitor_step_search(monitor_detector& d, std::vector<monitor_event>& out)
{
    if (!d.lost_reported && d.trigger >= monitor_ring_oldest(d)) {
        int64_t quiet_first = d.trigger, quiet_end = d.trigger;
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
    d.attempt = std::max(d.attempt, monitor_ring_oldest(d));
    if (d.attempt + d.window > d.fed_end)
        return false;
    monitor_model start, end;
    monitor_join join;
    bool found = try_window(d, d.attempt, 0.0, start, end, join);
    if (!found && d.lost_reported) {
        found = try_window(d, d.attempt, lost_slopes_ppm[d.lost_slope % lost_slopes], start, end, join);
        d.lost_slope++;
    }
    if (!found) {
        d.attempt += d.lost_reported ? 4 * d.window : d.window / 4;
        report_lost(d, d.attempt, out);
        return true;
    }
    if (d.lost_reported) {
        // Back after it was lost, somewhere in the last two attempts' reach
        // (the window before this one may have held the return and a slip
        // after it): the earliest window that fits, a quarter window at a
        // time, is where the search goes on from, so that a slip soon after
        // is its own event.
        const int64_t low = std::max({d.attempt - 8 * d.window, monitor_ring_oldest(d), d.trigger});
        const double slope_ppm = 1e6 * (start.slope - d.previous.slope);
        for (int64_t at = low; at < d.attempt; at += d.window / 4) {
            monitor_model s, e;
            monitor_join j;
            if (try_window(d, at, slope_ppm, s, e, j)) {
                d.attempt = at, start = s, end = e, join = j;
                break;
            }
        }
    }
    const int64_t low = std::max(monitor_ring_oldest(d), d.trigger - 4);
    const int64_t fits = std::max(fit_from(d, start, low, d.attempt), d.trigger);
    if (d.lost_reported) {
        monitor_explain_found(d, start, fits, out);
    } else if (!d.silent) {
        monitor_explain(d, d.previous, start, d.trigger, fits, out);
    } else {
        // After a gap in the caller's frames: whatever the delay did in it is
        // no event, but its whole frames are no drift, nor a rate's step.
        d.jumps -= std::nearbyint(monitor_model_delay_at(start, fits) - monitor_model_delay_at(d.previous, fits));
        monitor_rate_clear(d.rate_watch);
    }
    d.summary.frames_unchecked += fits - d.trigger;
    d.summary.frames_checked += d.attempt + d.window - fits;
    d.clean_start = fits;
    d.model = end;
    d.join = join;
    d.next = d.attempt + d.window;
    d.state = monitor_state::track;
    return true;
}

void monitor_xrun(monitor_detector& d, int64_t first, int64_t end) { monitor_note_xrun(d, first, end); }

void monitor_note_xrun(monitor_detector& d, int64_t first, int64_t end)
{
    const size_t slot = static_cast<size_t>(d.xrun_count) % d.xrun_first.size();
    d.xrun_first[slot] = first;
    d.xrun_end[slot] = end;
    d.xrun_count++;
    d.summary.xrun_blocks++;
}

const char* monitor_kind_name(monitor_kind kind)
{
    switch (kind) {
    case monitor_kind::dropped: return "dropped";
    case monitor_kind::inserted: return "inserted";
    case monitor_kind::zeros: return "zeros";
    case monitor_kind::discontinuity: return "discontinuity";
    case monitor_kind::lost: return "lost";
    case monitor_kind::found: return "found";
    case monitor_kind::rate: return "rate";
    case monitor_kind::polarity: return "polarity";
    case monitor_kind::level: return "level";
    }
    return "?";
}

bool monitor_kind_is_glitch(monitor_kind kind)
{
    return kind == monitor_kind::dropped || kind == monitor_kind::inserted || kind == monitor_kind::zeros ||
           kind == monitor_kind::discontinuity || kind == monitor_kind::lost;
}

const char* monitor_side_name(monitor_side side)
{
    switch (side) {
    case monitor_side::capture: return "capture";
    case monitor_side::playback: return "playback";
    case monitor_side::none: break;
    }
    return nullptr;
}
