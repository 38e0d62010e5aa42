// After a disturbance: the alignment found again, what happened, the events.
#include <algorithm>
#include <cmath>

#include "analysis/monitor_steps.hpp"

namespace {

bool xrun_near(const monitor_detector& d, int64_t frame)
{
    const int64_t margin = monitor_seconds(d, xrun_near_seconds);
    const int64_t kept = std::min<int64_t>(d.xrun_count, static_cast<int64_t>(d.xrun_first.size()));
    for (int64_t i = 0; i < kept; i++)
        if (frame >= d.xrun_first[i] - margin && frame < d.xrun_end[i] + margin)
            return true;
    return false;
}

}  // namespace

void monitor_report(monitor_detector& d, monitor_event e, std::vector<monitor_event>& out)
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

namespace {

// The stretch of near-silence (|y| within the threshold) around frame:
// [first, end). end == fed_end when it has not ended yet or lasts 0.15 s.
void quiet_run(const monitor_detector& d, int64_t frame, int64_t& first, int64_t& end)
{
    const double limit = d.summary.threshold;
    first = end = frame;
    if (std::fabs(monitor_ring_at(d, frame)) > limit)
        return;
    const int64_t low = std::max(monitor_ring_oldest(d), frame - 4);
    while (first > low && std::fabs(monitor_ring_at(d, first - 1)) <= limit)
        first--;
    const int64_t high = std::min(d.fed_end, frame + monitor_seconds(d, lost_seconds));
    while (end < high && std::fabs(monitor_ring_at(d, end)) <= limit)
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

monitor_event classify(const monitor_detector& d, const monitor_shift& s, int64_t quiet_first, int64_t quiet_end,
                       int64_t fits)
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
    if (d.lost_reported || d.silent || reached - d.trigger < monitor_seconds(d, lost_seconds))
        return;
    monitor_report(d, monitor_event{d.trigger, monitor_kind::lost, 0, 0.0, 0.0, false}, out);
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
    monitor_adopt_trial(d);
    d.jumps += s.frames;
    const int64_t low = std::max(monitor_ring_oldest(d), d.trigger - 4);
    const int64_t fits = fit_from(d, low, d.attempt);
    if (!d.lost_reported && !d.silent)
        monitor_report(d, classify(d, s, quiet_first, quiet_end, fits), out);
    d.summary.frames_unchecked += d.attempt - d.trigger;
    d.clean_start = std::max(fits, d.trigger);
    d.next = d.attempt;
    d.state = monitor_state::track;
    return true;
}

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
    }
    return "?";
}
