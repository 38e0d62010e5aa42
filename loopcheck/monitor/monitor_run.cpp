// The monitor's main-thread loop.
#include "loopcheck/monitor/monitor_run.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "analysis/monitor.hpp"
#include "loopcheck/monitor/monitor_files.hpp"
#include "loopcheck/monitor/monitor_xruns.hpp"

namespace {

constexpr double status_every_s = 10.0;
constexpr int64_t look_every_ms = 5;

// The wall-clock time at which the stream captured stream frame `frame`,
// reckoned back from now and the frames captured since.
monitor_wall wall_of(const stream& s, int64_t frame, double rate)
{
    const int64_t since = stream_frames_done(s) - frame;
    const auto back = std::chrono::duration<double>(static_cast<double>(since) / rate);
    return std::chrono::system_clock::now() - std::chrono::duration_cast<std::chrono::system_clock::duration>(back);
}

struct monitor_loop_state {
    const monitor_sink& sink;
    monitor_trace& trace;
    stream& s;
    monitor_detector d;
    monitor_progress p{};
    monitor_files files;
    std::vector<float> block{};
    std::vector<monitor_event> events{};
    int64_t fed = 0;            // the next stream frame to feed
    int64_t marks_shown = 0;    // the log's entries read
    int64_t marks_lost = 0;     // entries the log no longer held when read: each counted an xrun
    monitor_xruns incidents{};  // the entries read, as incidents
    std::vector<monitor_xrun_entry> incidents_out{};
    int64_t xruns_noted = 0;            // the stream frame up to which the log's xruns are the detector's
    std::vector<monitor_event> held{};  // found, held until the log is final 50 ms past them
};

// The monitor fell behind the ring: the frames it no longer holds are
// skipped, and the detector, seeing the gap, looks for the stimulus afresh.
void overrun(monitor_loop_state& m, int64_t resume)
{
    const int64_t frames = resume - m.fed;
    m.p.overruns++, m.p.overrun_frames += frames;
    const int64_t frame = m.fed - m.p.stimulus_frame;
    monitor_trace_glitch(m.trace, static_cast<double>(frame) / m.p.rate);
    if (m.sink.overrun)
        m.sink.overrun(frame, frames, m.p, wall_of(m.s, m.fed, m.p.rate));
    m.fed = resume;
}

// The loop's delay where the detector stands, once a second, while it tracks.
void delay_note(monitor_loop_state& m)
{
    const double t = static_cast<double>(m.d.next) / m.p.rate;
    if (m.d.state == monitor_state::track && monitor_trace_delay_due(m.trace, t))
        monitor_trace_delay(m.trace, t, monitor_summarise(m.d).delay_end_frames);
}

// The log's xruns up to frame final (where it is final) into the detector,
// ahead of the frames fed: a glitch is reported some 30 ms after its frame,
// and an xrun up to 50 ms after it must still mark it. Each at its own
// frames (its call's buffer after the call's first frame); a stretch whose
// entries the log lost, as a whole.
void xruns_ahead(monitor_loop_state& m, int64_t final)
{
    if (final <= m.xruns_noted)
        return;
    const stream_marks marks = stream_marks_within(m.s, m.xruns_noted, final);
    const int64_t at = m.p.stimulus_frame;
    if (marks.lost)
        monitor_xrun(m.d, m.xruns_noted - at, final - at);
    else if (marks.flagged > 0 || marks.missed > 0)
        monitor_xrun(m.d, marks.first - at, marks.last + std::max<int64_t>(1, stream_largest_buffer(m.s)) - at);
    m.xruns_noted = final;
}

// The events held until the log is final 50 ms past each (all: whatever
// the log holds by now), each marked if an xrun lies within 50 ms of it,
// to the sink, the files and the trace.
void release(monitor_loop_state& m, bool all)
{
    const int64_t margin = std::lrint(monitor_xrun_near_s * m.p.rate);
    const int64_t final = m.xruns_noted - m.p.stimulus_frame;
    size_t kept = 0;
    for (monitor_event& e : m.held) {
        if (!all && e.frame + margin > final) {
            m.held[kept++] = e;
            continue;
        }
        e.xrun_flagged = e.xrun_flagged || monitor_xrun_near(m.d, e.frame);
        if (m.sink.glitch)
            m.sink.glitch(e, m.p, wall_of(m.s, m.p.stimulus_frame + e.frame, m.p.rate));
        if (e.kind == monitor_kind::found)
            continue;
        // A change followed (rate, polarity, level) is listed, but neither
        // saved nor drawn as a glitch, nor does it end a clean stretch.
        const bool glitch = monitor_kind_is_glitch(e.kind);
        monitor_trace_event_add(m.trace, e, glitch ? monitor_files_note(m.files, e) : std::string());
        if (glitch)
            monitor_trace_glitch(m.trace, static_cast<double>(e.frame) / m.p.rate);
    }
    m.held.resize(kept);
}

// Feeds frames fed .. to - 1 of the ring; false when they were overwritten meanwhile.
bool feed(monitor_loop_state& m, int64_t to)
{
    if (!stream_capture_copy(m.s, m.fed, to, 0, m.block))
        return false;
    const int64_t at = m.p.stimulus_frame;
    m.events.clear();
    monitor_feed(m.d, m.block, m.fed - at, false, m.events);
    m.held.insert(m.held.end(), m.events.begin(), m.events.end());
    release(m, false);
    m.fed = to;
    delay_note(m);
    monitor_files_write(m.files, m.d, false);
    return true;
}

// The stream's log since the last look: what the host and the server did,
// beside the glitches, an incident at a time, in time order, once the log is
// final past it (at the end, all). A missed cycle and the call flagged for it
// are one incident (monitor_xruns.hpp). Entries the log no longer holds are
// counted in the summary's xruns all the same.
void xruns_note(monitor_loop_state& m, bool all)
{
    const int64_t written = stream_marks_written(m.s);
    const int64_t oldest = stream_marks_oldest(m.s);
    if (oldest > m.marks_shown)
        m.marks_lost += oldest - m.marks_shown, m.marks_shown = oldest;
    for (; m.marks_shown < written; m.marks_shown++) {
        const stream_mark_entry e = stream_mark_at(m.s, m.marks_shown);
        monitor_xruns_add(m.incidents, {e.frame, e.what});
    }
    const int64_t final = stream_frames_done(m.s) - stream_marks_pending_frames(m.s);
    m.incidents_out.clear();
    monitor_xruns_take(m.incidents, final, stream_largest_buffer(m.s), all, m.incidents_out);
    if (m.sink.xrun)
        for (const monitor_xrun_entry& e : m.incidents_out)
            m.sink.xrun(e.frame - m.p.stimulus_frame, e.what, m.p, wall_of(m.s, e.frame, m.p.rate));
}

void progress_update(monitor_loop_state& m)
{
    m.p.frames = std::max<int64_t>(0, m.fed - m.p.stimulus_frame);
    m.p.xruns = m.marks_lost + monitor_xruns_count(m.incidents, stream_largest_buffer(m.s));
    m.p.summary = monitor_summarise(m.d);
}

bool interrupted(const monitor_setup& setup) { return setup.interrupted && setup.interrupted->load(); }

// Feeds the detector until the end frame, an interruption or a stall; true on a stall.
bool watch(monitor_loop_state& m, const monitor_setup& setup, int64_t end)
{
    const double rate = m.p.rate;
    const int64_t block_frames = std::lrint(0.05 * rate);
    const int64_t ring = stream_ring_frames(m.s);
    int64_t next_status = m.p.stimulus_frame + std::lrint(status_every_s * rate);
    stream_stall_watch stall;
    while (m.fed < end && !interrupted(setup)) {
        const int64_t done = stream_frames_done(m.s);
        // Fed only once the log has its last word on them: a missed cycle is
        // marked some calls after its gap, and a glitch at the gap must see it.
        const int64_t final = done - stream_marks_pending_frames(m.s);
        if (stream_stall_look(stall, done, setup.pace.now_ms()))
            return true;
        if (final <= m.fed) {
            setup.pace.pause(look_every_ms);
            continue;
        }
        // A quarter of the ring kept in hand: the callback writes on while we read.
        if (done - m.fed > ring - ring / 4)
            overrun(m, done - ring / 2);
        const int64_t to = std::min({final, m.fed + block_frames, end});
        if (to <= m.fed)
            continue;
        xruns_ahead(m, final);
        if (!feed(m, to))
            overrun(m, stream_frames_done(m.s) - ring / 2);
        xruns_note(m, false);
        if (m.fed >= next_status) {
            progress_update(m);
            if (m.sink.status)
                m.sink.status(m.p, wall_of(m.s, m.fed, rate));
            next_status += std::lrint(status_every_s * rate);
        }
    }
    return false;
}

}  // namespace

std::vector<float> monitor_clip_make(const monitor_stimulus& s)
{
    std::vector<float> clip(static_cast<size_t>(monitor_period));
    monitor_stimulus_fill(s, clip, 0);
    return clip;
}

int64_t monitor_ring_frames(double rate) { return std::lrint(4.0 * rate); }

std::string monitor_refusal(const monitor_loop& loop)
{
    if (monitor_loop_unusable(loop).empty())
        return "";
    char text[240];
    if (std::fabs(loop.gain) < monitor_gain_least)
        std::snprintf(text, sizeof text,
                      "the loop is too weak for --monitor: its gain is %.1f dB, and the monitor needs %.0f dB or "
                      "more (raise the input's gain or the output's level on the interface)",
                      20.0 * std::log10(std::fabs(loop.gain)), 20.0 * std::log10(monitor_gain_least));
    else
        std::snprintf(text, sizeof text, "the loop cannot be monitored: %s", monitor_loop_unusable(loop).c_str());
    return text;
}

monitor_seen monitor_watch_run(stream& s, const monitor_watch& plan, const monitor_setup& setup)
{
    monitor_seen out;
    const monitor_watch& o = plan;
    const double rate = plan.rate;
    const std::string refusal = monitor_refusal(plan.loop);
    if (!refusal.empty()) {
        out.end.failure = check_status::no_loop, out.end.reason = refusal;
        return out;
    }
    out.trace = monitor_trace_start(rate);
    monitor_loop_state m{.sink = setup.sink,
                         .trace = out.trace,
                         .s = s,
                         .d = monitor_detector_make(*setup.stimulus, plan.loop),
                         .files = monitor_files_make(o.save_dir, rate)};
    m.incidents.pending.reserve(64);
    m.incidents_out.reserve(64);
    m.p.rate = rate, m.p.latency = plan.loop.latency, m.p.duration_s = o.duration_s;
    m.p.stimulus_frame = stream_ahead_of_callback(s);
    m.marks_shown = stream_marks_written(s);
    m.fed = m.xruns_noted = m.p.stimulus_frame;
    stream_schedule(s, m.p.stimulus_frame, setup.clip);
    m.block.reserve(static_cast<size_t>(std::lrint(0.05 * rate)));
    m.events.reserve(64);
    m.held.reserve(64);
    if (setup.sink.start)
        setup.sink.start(m.p, wall_of(s, m.p.stimulus_frame, rate));
    out.end.ran = true;

    const int64_t end = o.duration_s > 0.0 ? m.p.stimulus_frame + std::llrint(o.duration_s * rate)
                                           : std::numeric_limits<int64_t>::max();
    const bool stalled = watch(m, setup, end);
    xruns_ahead(m, stream_frames_done(m.s) - stream_marks_pending_frames(m.s));
    release(m, true);
    monitor_files_write(m.files, m.d, true);
    xruns_note(m, true);
    progress_update(m);
    monitor_trace_end(out.trace, static_cast<double>(m.p.frames) / rate);
    out.trace.duration_asked_s = m.p.duration_s, out.trace.latency = m.p.latency;
    out.trace.frames = m.p.frames, out.trace.xruns = m.p.xruns;
    out.trace.overruns = m.p.overruns, out.trace.overrun_frames = m.p.overrun_frames;
    out.trace.summary = m.p.summary;
    out.progress = m.p;
    if (stalled)
        out.end.failure = check_status::error,
        out.end.reason = "the stream stopped delivering frames during the monitor" + setup.stall_advice;
    else if (interrupted(setup) && o.duration_s > 0.0)
        out.end.failure = check_status::interrupted,
        out.end.reason = "interrupted; the summary covers what was checked";
    if (!m.files.problem.empty() && out.end.failure != check_status::error)
        out.end.failure = check_status::error, out.end.reason = m.files.problem;
    else if (m.files.skipped > 0)
        out.end.note = std::to_string(m.files.skipped) + " glitches not saved (too many at once, or beyond 1000)";
    return out;
}
