// After a disturbance: the alignment found again, what happened, the events.
#include <algorithm>
#include <cmath>

#include "analysis/monitor_steps.hpp"

bool monitor_xrun_near(const monitor_detector& d, int64_t frame)
{
    const int64_t margin = monitor_seconds(d, monitor_xrun_near_s);
    const int64_t kept = std::min<int64_t>(d.xrun_count, static_cast<int64_t>(d.xrun_first.size()));
    for (int64_t i = 0; i < kept; i++)
        if (frame >= d.xrun_first[i] - margin && frame < d.xrun_end[i] + margin)
            return true;
    return false;
}

void monitor_report(monitor_detector& d, monitor_event e, std::vector<monitor_event>& out)
{
    e.xrun_flagged = monitor_xrun_near(d, e.frame);
    out.push_back(e);
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
    d.summary.events++;
}

namespace {

// Silence at frame: digital zero (frames the host or the driver filled in),
// or the loop's own DC (the output muted before the converters and the
// input's offset, or the DC the model has learnt, still there).
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

// The earliest frame from which the (adopted) model fits every frame up to
// end, looking back to low.
int64_t fit_from(monitor_detector& d, int64_t low, int64_t end)
{
    if (end <= low)
        return end;
    const std::span<const float> y = monitor_ring_stretch(d, low, end - low);
    monitor_pass p = monitor_pass_of(d);
    p.limit = d.summary.threshold;
    p.stop = false;
    monitor_model_run(d.model, y, low, p);
    return low + p.last_over + 1;
}

}  // namespace

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

// What happened from frame start: the shift s, the silence [quiet_first,
// quiet_end) there, and the model fitting again from fits.
monitor_event classify(const monitor_detector& d, const monitor_shift& s, int64_t start, int64_t quiet_first,
                       int64_t quiet_end, int64_t fits)
{
    const monitor_slip slip = monitor_slip_of(s.frames, d.model.slope);
    const bool pure = !s.level_changed && slip.whole;
    const int64_t quiet = quiet_end - quiet_first;
    monitor_event e;
    e.frame = quiet > 0 ? std::min(start, quiet_first) : start;
    e.delay_change = -s.frames;
    e.level_db = s.level_db;
    if (pure && slip.frames != 0) {
        e.kind = slip.frames > 0 ? monitor_kind::dropped : monitor_kind::inserted;
        e.frames = std::llabs(slip.frames);
        e.side = slip.side;
    } else if (pure && quiet > 0 && fits <= quiet_end + 2) {
        e.kind = monitor_kind::zeros;
        e.frames = quiet;
    } else {
        e.kind = monitor_kind::discontinuity;
        e.frames = std::max<int64_t>(0, fits - e.frame);
    }
    return e;
}

// Two disturbances close together, the search's window past both: the
// model found after them (shift: total, from the model before) fits only
// from fits on. Between the two, a clean run of frames follows an
// alignment of its own: the first disturbance's. Then each is reported on
// its own, the first with that shift, the second with the rest. False when
// the stretch holds no such run: one disturbance.
bool report_two(monitor_detector& d, const monitor_shift& total, int64_t quiet_first, int64_t quiet_end, int64_t fits,
                std::vector<monitor_event>& out)
{
    const int64_t from = std::max(d.trigger, monitor_ring_oldest(d));
    const int64_t least = monitor_seconds(d, between_least_seconds);
    int64_t frames = std::min(fits - from, d.window);
    monitor_run_shift between;
    // A run found late may be frames from before the first disturbance,
    // brought back by a repeat; the stretch before it is looked at again.
    for (int look = 0; look < 3 && frames >= least; look++) {
        const std::span<const float> y = monitor_ring_stretch(d, from, frames);
        monitor_align_work w = monitor_align_of(d);
        // A plain window: a short stretch needs every frame's weight, and no tone is to be resolved here.
        w.window = std::span<const double>(d.stretch_window).first(static_cast<size_t>(frames));
        const monitor_run_shift run =
            monitor_align_run(d.previous, y, from, d.reach, d.summary.threshold, least, w, d.stretch_residue);
        if (!run.found)
            break;
        between = run;
        frames = run.run_first;
    }
    // Neither the model before nor the one after: those are the disturbances' own ends.
    if (!between.found || std::fabs(between.frames) < 0.5 || std::fabs(between.frames - total.frames) < 0.5)
        return false;
    monitor_shift first;
    first.found = true, first.frames = between.frames;
    monitor_report(d, classify(d, first, d.trigger, quiet_first, quiet_end, from + between.run_first), out);
    monitor_shift second = total;
    second.frames = total.frames - between.frames;
    const int64_t at = from + between.run_end;
    monitor_report(d, classify(d, second, at, at, at, fits), out);
    return true;
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
    int64_t quiet_first = d.trigger, quiet_end = d.trigger;
    if (!d.lost_reported && d.trigger >= monitor_ring_oldest(d)) {
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
    const std::span<const float> y = monitor_ring_stretch(d, d.attempt, d.window);
    monitor_align_work w = monitor_align_of(d);
    const monitor_shift s = monitor_align(d.model, y, d.attempt, d.reach, d.summary.threshold, infinity, true, w);
    if (!s.found) {
        d.attempt += d.lost_reported ? 4 * d.window : d.window / 4;
        report_lost(d, d.attempt, out);
        return true;
    }
    d.previous = d.model;
    monitor_adopt_trial(d);
    d.jumps += s.frames;
    const int64_t low = std::max(monitor_ring_oldest(d), d.trigger - 4);
    const int64_t fits = fit_from(d, low, d.attempt);
    if (!d.lost_reported && !d.silent && !report_two(d, s, quiet_first, quiet_end, fits, out))
        monitor_report(d, classify(d, s, d.trigger, quiet_first, quiet_end, fits), out);
    if (d.lost_reported) {
        // Back: how long it was gone, from the lost frame to the first that fits, and the delay now.
        monitor_event back;
        back.frame = std::max(fits, d.trigger);
        back.kind = monitor_kind::found;
        back.frames = back.frame - d.trigger;
        back.delay_change = -s.frames;
        back.delay = monitor_model_delay_at(d.model, back.frame);
        monitor_report(d, back, out);
    }
    d.summary.frames_unchecked += d.attempt - d.trigger;
    d.clean_start = std::max(fits, d.trigger);
    d.next = d.attempt;
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
    }
    return "?";
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
