// The monitor's main-thread loop.
#include "loopcheck/monitor_run.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <thread>
#include <vector>

#include "analysis/monitor.hpp"
#include "loopcheck/monitor_files.hpp"

namespace {

constexpr double status_every_s = 10.0;
constexpr double stall_s = 1.0;

void print(const std::string& text)
{
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

// The wall-clock time at which the stream captured stream frame `frame`,
// reckoned back from now and the frames captured since.
std::string wall_of(const stream_state& s, int64_t frame, double rate)
{
    const int64_t since = s.frames_done.load(std::memory_order_acquire) - frame;
    const auto back = std::chrono::duration<double>(static_cast<double>(since) / rate);
    return monitor_wall_text(std::chrono::system_clock::now() -
                             std::chrono::duration_cast<std::chrono::system_clock::duration>(back));
}

// The loop as the measurement found it: its mean latency, and its gain with the sign of its polarity.
monitor_loop loop_of(const check_report& r)
{
    const run_statistics st = report_statistics(r);
    const bool inverted = !r.runs.empty() && r.runs.back().result.inverted;
    return {st.mean, (inverted ? -1.0 : 1.0) * std::pow(10.0, st.gain_db / 20.0), 0};
}

struct monitor_loop_state {
    const check_report& r;
    monitor_trace& trace;
    stream_state& s;
    monitor_detector d;
    monitor_progress p;
    monitor_files files;
    std::vector<float> block;
    std::vector<monitor_event> events;
    int64_t fed = 0;          // the next stream frame to feed
    int64_t marks_start = 0;  // the log's count when the stimulus began
    int64_t marks_shown = 0;  // the log's entries printed
};

void glitch_print(monitor_loop_state& m, const monitor_event& e)
{
    const std::string wall = wall_of(m.s, m.p.stimulus_frame + e.frame, m.p.rate);
    print(m.r.options.json ? monitor_glitch_json(e, m.p.rate, wall) : monitor_glitch_text(e, m.p.rate, wall));
}

// The monitor fell behind the ring: the frames it no longer holds are
// skipped, and the detector, seeing the gap, looks for the stimulus afresh.
void overrun(monitor_loop_state& m, int64_t resume)
{
    const int64_t frames = resume - m.fed;
    m.p.overruns++, m.p.overrun_frames += frames;
    const std::string wall = wall_of(m.s, m.fed, m.p.rate);
    const int64_t frame = m.fed - m.p.stimulus_frame;
    monitor_trace_glitch(m.trace, static_cast<double>(frame) / m.p.rate);
    print(m.r.options.json ? monitor_overrun_json(frame, frames, m.p.rate, wall)
                           : monitor_overrun_text(frame, frames, m.p.rate, wall));
    m.fed = resume;
}

// The loop's delay where the detector stands, once a second, while it tracks.
void delay_note(monitor_loop_state& m)
{
    const double t = static_cast<double>(m.d.next) / m.p.rate;
    if (m.d.state == monitor_state::track && monitor_trace_delay_due(m.trace, t))
        monitor_trace_delay(m.trace, t, monitor_summarise(m.d).delay_end_frames);
}

// Feeds frames fed .. to - 1 of the ring; false when they were overwritten meanwhile.
bool feed(monitor_loop_state& m, int64_t to)
{
    if (!stream_capture_copy(m.s, m.fed, to, 0, m.block))
        return false;
    // A missed cycle is logged at the first frame after the gap, which is
    // where a block starts when the block is what the callbacks delivered:
    // the gap between the last block and this one belongs to this one.
    const stream_marks marks = stream_marks_within(m.s, m.fed - 1, to);
    const bool xrun = marks.flagged > 0 || marks.missed > 0 || marks.lost;
    m.events.clear();
    monitor_feed(m.d, m.block, m.fed - m.p.stimulus_frame, xrun, m.events);
    for (const monitor_event& e : m.events) {
        glitch_print(m, e);
        monitor_files_note(m.files, e);
        monitor_trace_glitch(m.trace, static_cast<double>(e.frame) / m.p.rate);
    }
    m.fed = to;
    delay_note(m);
    monitor_files_write(m.files, m.d, false);
    return true;
}

// The stream's log since the last look, a line an entry: what the host and
// the server did, beside the glitches. Entries the log no longer holds are
// counted in the summary's xruns all the same.
void xruns_print(monitor_loop_state& m)
{
    const int64_t written = m.s.marks_written.load(std::memory_order_acquire);
    m.marks_shown = std::max(m.marks_shown, written - stream_mark_capacity);
    for (; m.marks_shown < written; m.marks_shown++) {
        const stream_mark& e = m.s.marks[static_cast<size_t>(m.marks_shown % stream_mark_capacity)];
        const int64_t frame = e.frame.load(std::memory_order_relaxed);
        const unsigned long what = e.what.load(std::memory_order_relaxed);
        const std::string wall = wall_of(m.s, frame, m.p.rate);
        const int64_t at = frame - m.p.stimulus_frame;
        print(m.r.options.json ? monitor_xrun_json(at, what, m.p.rate, wall)
                               : monitor_xrun_text(at, what, m.p.rate, wall));
    }
}

void progress_update(monitor_loop_state& m)
{
    m.p.frames = std::max<int64_t>(0, m.fed - m.p.stimulus_frame);
    m.p.xruns = m.s.marks_written.load(std::memory_order_acquire) - m.marks_start;
    m.p.summary = monitor_summarise(m.d);
}

}  // namespace

stream_clip monitor_clip_make(const monitor_stimulus& s)
{
    stream_clip clip;
    clip.samples.resize(static_cast<size_t>(monitor_period));
    monitor_stimulus_fill(s, clip.samples, 0);
    clip.looping = true;
    return clip;
}

int64_t monitor_ring_frames(double rate) { return std::lrint(4.0 * rate); }

void monitor_judge(check_report& r, const monitor_progress& p)
{
    const monitor_settings& o = r.options.monitor;
    const int64_t glitches = monitor_glitch_count(p);
    char text[200];
    if (o.max_glitches >= 0 && glitches > o.max_glitches) {
        std::snprintf(text, sizeof text, "%lld glitches, more than --max-glitches %lld",
                      static_cast<long long>(glitches), static_cast<long long>(o.max_glitches));
        r.status = check_status::monitor_limit, r.message = text;
    } else if (o.max_drift_ppm >= 0.0 && p.summary.aligned && std::fabs(p.summary.drift_ppm) > o.max_drift_ppm) {
        std::snprintf(text, sizeof text, "drift %+.3f ppm, beyond --max-drift %g", p.summary.drift_ppm,
                      o.max_drift_ppm);
        r.status = check_status::monitor_limit, r.message = text;
    } else if (!p.summary.aligned) {
        r.status = check_status::glitches;
        r.message =
            "the stimulus never came back recognisably: nothing was checked (a gain or latency that changed "
            "since the measurement, a mute, a cable pulled)";
    } else if (glitches > 0 && o.max_glitches < 0) {
        std::snprintf(text, sizeof text, "%lld glitch%s found", static_cast<long long>(glitches),
                      glitches > 1 ? "es" : "");
        r.status = check_status::glitches, r.message = text;
    } else {
        r.status = check_status::ok, r.message = "";
    }
}

void monitor_run(check_report& r, stream_state& s, const monitor_setup& setup)
{
    const check_options& o = r.options;
    const double rate = r.rate;
    r.monitor = monitor_trace_start(rate);
    monitor_loop_state m{r,  r.monitor,
                         s,  monitor_detector_make(*setup.stimulus, loop_of(r)),
                         {}, monitor_files_make(o.monitor.save_dir, rate),
                         {}, {},
                         0,  0};
    r.monitored = true;
    // Ahead of any buffer the callback may be in, whatever the host's buffer.
    const int64_t ahead = 2 * s.largest_buffer.load() + std::lrint(0.01 * rate);
    m.p.rate = rate, m.p.latency = loop_of(r).latency, m.p.duration_s = o.monitor.duration_s;
    m.p.stimulus_frame = s.frames_done.load(std::memory_order_acquire) + ahead;
    m.marks_start = m.marks_shown = s.marks_written.load(std::memory_order_acquire);
    m.fed = m.p.stimulus_frame;
    stream_schedule(s, m.p.stimulus_frame, setup.clip);
    m.block.reserve(static_cast<size_t>(std::lrint(0.05 * rate)));
    m.events.reserve(64);

    const std::string start_wall = wall_of(s, m.p.stimulus_frame, rate);
    if (o.json)
        print(monitor_start_json(r, m.p, start_wall));
    else
        print((o.quiet ? "" : report_tail_text(r)) + monitor_start_text(m.p));

    const int64_t block_frames = std::lrint(0.05 * rate);
    const int64_t ring = static_cast<int64_t>(s.ring_mask) + 1;
    const int64_t end = o.monitor.duration_s > 0.0 ? m.p.stimulus_frame + std::llrint(o.monitor.duration_s * rate)
                                                   : std::numeric_limits<int64_t>::max();
    int64_t next_status = m.p.stimulus_frame + std::lrint(status_every_s * rate);
    auto last_frames_at = std::chrono::steady_clock::now();
    bool stalled = false;
    int64_t last_done = s.frames_done.load(std::memory_order_acquire);
    while (m.fed < end && !(setup.interrupted && setup.interrupted->load())) {
        const int64_t done = s.frames_done.load(std::memory_order_acquire);
        const auto now = std::chrono::steady_clock::now();
        if (done != last_done)
            last_done = done, last_frames_at = now;
        // Fed only once the log has its last word on them: a missed cycle is
        // marked some calls after its gap, and a glitch at the gap must see it.
        const int64_t final = done - stream_marks_pending_frames(s);
        if (final <= m.fed) {
            if (std::chrono::duration<double>(now - last_frames_at).count() > stall_s) {
                stalled = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        // A quarter of the ring kept in hand: the callback writes on while we read.
        if (done - m.fed > ring - ring / 4)
            overrun(m, done - ring / 2);
        const int64_t to = std::min({final, m.fed + block_frames, end});
        if (to <= m.fed)
            continue;
        if (!feed(m, to))
            overrun(m, s.frames_done.load(std::memory_order_acquire) - ring / 2);
        xruns_print(m);
        if (m.fed >= next_status) {
            progress_update(m);
            if (!o.quiet)
                print(o.json ? monitor_status_json(m.p, wall_of(s, m.fed, rate)) : monitor_status_text(m.p));
            next_status += std::lrint(status_every_s * rate);
        }
    }
    monitor_files_write(m.files, m.d, true);
    xruns_print(m);
    progress_update(m);
    monitor_trace_end(r.monitor, static_cast<double>(m.p.frames) / rate);
    r.monitor.duration_asked_s = m.p.duration_s, r.monitor.latency = m.p.latency;
    r.monitor.frames = m.p.frames, r.monitor.xruns = m.p.xruns;
    r.monitor.overruns = m.p.overruns, r.monitor.overrun_frames = m.p.overrun_frames;
    r.monitor.summary = m.p.summary;
    monitor_judge(r, m.p);
    if (stalled)
        r.status = check_status::error,
        r.message = "loopcheck: the stream stopped delivering frames during the monitor" + setup.stall_advice;
    else if (setup.interrupted && setup.interrupted->load() && o.monitor.duration_s > 0.0)
        r.status = check_status::interrupted, r.message = "loopcheck: interrupted; the summary covers what was checked";
    if (!m.files.problem.empty() && r.status != check_status::error)
        r.status = check_status::error, r.message = "loopcheck: " + m.files.problem;
    else if (m.files.skipped > 0)
        r.message += (r.message.empty() ? "" : "; ") + std::to_string(m.files.skipped) +
                     " glitches not saved (too many at once, or beyond 1000)";
    print(o.json ? monitor_summary_json(m.p, r) : monitor_summary_text(m.p, r));
}
