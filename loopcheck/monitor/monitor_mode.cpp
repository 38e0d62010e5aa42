// --monitor as a mode: its options, its stimulus given to the stream, its
// run on the loop as the latency found it, and its judgement of the figures
// against its limits.
#include <cmath>
#include <cstdio>
#include <exception>

#include "loopcheck/monitor/monitor.hpp"
#include "loopcheck/monitor/monitor_report.hpp"
#include "loopcheck/options/option_table.hpp"
#include "loopcheck/report/clock_words.hpp"
#include "loopcheck/report/files.hpp"

namespace {

// clang-format off
constexpr option_row monitor_rows[] = {
    {"--monitor", "DURATION",
     "then play a stimulus for DURATION (30s, 10min, 8h, 1h30m; a bare number is seconds; 0: until Ctrl-C) and "
     "report every glitch of the loop and the clocks' drift; DURATION",
     "A line per glitch as it is found (its time since the stimulus began and on the wall clock, its frame, its "
     "kind: dropped, inserted, zeros, discontinuity, lost, and its size in frames; whether the host flagged an xrun "
     "beside it), a status line every 10 s (not with -q), and a summary with the drift in ppm. --out-device and "
     "--in-device on two cards are allowed: the drift is the ratio of their clocks.", 1.0, 3.6e6, "", "",
     option_kind::duration},
    {"--max-glitches", "N", "exit status 5 beyond N glitches,", "", 0.0, 1e9, "", "--monitor"},
    {"--max-drift", "PPM", "exit status 5 when the drift exceeds PPM,", "", 0.0, 1e6, "", "--monitor"},
    {"--save-glitches", "DIR", "each glitch, 100 ms either side, as a WAV file in DIR (made where missing)",
     "32-bit float WAV files, at most 1000.", 0.0, 0.0, "", "--monitor"},
};
// clang-format on

std::string monitor_read(const option_values& v, monitor_plan& p, bool& asked)
{
    asked = option_given(v, "--monitor");
    if (asked) {
        const std::string problem = monitor_duration_parse(option_text(v, "--monitor"), p.duration_s);
        if (!problem.empty())
            return "--monitor: " + problem;
    }
    if (option_given(v, "--max-glitches")) {
        const option_row& row = monitor_rows[1];
        const std::string text = option_text(v, "--max-glitches");
        double n = 0.0;
        const std::string problem = options_number(text, row.min, row.max, n);
        if (!problem.empty() || n != std::floor(n))
            return "--max-glitches: " + (problem.empty() ? "\"" + text + "\" is not a whole number" : problem);
        p.max_glitches = static_cast<int64_t>(n);
    }
    if (option_given(v, "--max-drift")) {
        const option_row& row = monitor_rows[2];
        const std::string problem = options_number(option_text(v, "--max-drift"), row.min, row.max, p.max_drift_ppm);
        if (!problem.empty())
            return "--max-drift: " + problem;
    }
    p.save_dir = option_text(v, "--save-glitches");
    if (!asked && (p.max_glitches >= 0 || p.max_drift_ppm >= 0.0 || !p.save_dir.empty()))
        return "--max-glitches, --max-drift and --save-glitches go with --monitor";
    return "";
}

// The snippets' folder is made where it is missing, as the README's soak command expects.
std::string monitor_ready(const monitor_plan& p)
{
    if (p.save_dir.empty())
        return "";
    const std::string problem = files_make_folder(p.save_dir);
    return problem.empty() ? files_check_writable(p.save_dir + "/.loopcheck-check") : problem;
}

monitor_outcome monitor_run(const monitor_plan& p, const mode_prior& prior, mode_run& run)
{
    return monitor_run_with(p, prior, run, monitor_printer(run));
}

}  // namespace

std::span<const option_row> monitor_options() { return monitor_rows; }

std::string monitor_duration_parse(const std::string& text, double& duration_s)
{
    const std::string problem = options_duration(text, duration_s);
    if (!problem.empty())
        return problem;
    const option_row& row = monitor_rows[0];
    if (duration_s != 0.0 && (duration_s < row.min || duration_s > row.max))
        return "\"" + text + "\" is outside " + option_bounds_text(row) + " (or 0 for until Ctrl-C)";
    return "";
}

std::string monitor_prepare(monitor_plan& p, stream& s)
{
    const double rate = stream_facts_of(s).rate;
    p.stimulus = monitor_stimulus_design(rate, monitor_default_level_dbfs);
    p.clip = stream_clip_add(s, monitor_clip_make(p.stimulus), true);
    stream_ring_need(s, monitor_ring_frames(rate));
    // The callbacks' times spaced so that the ring of them spans the run (a
    // minute more for the modes before it); until Ctrl-C, its last 11 minutes.
    if (p.duration_s > 0.0)
        stream_clock_need(s, p.duration_s + 60.0);
    return "";
}

monitor_outcome monitor_run_with(const monitor_plan& p, const mode_prior& prior, mode_run& run,
                                 const monitor_sink& sink)
{
    monitor_outcome out;
    out.plan = p;
    // Ctrl-C since the modes before ended: nothing of it is played.
    if (run.stopped()) {
        out.end.reason = "the session ended before it";
        return out;
    }
    const double rate = stream_facts_of(run.s).rate;
    const monitor_watch watch{
        p.duration_s, p.save_dir, {prior.latency_frames.empty() ? 0.0 : prior.latency_frames[0], prior.gain, 0}, rate};
    const monitor_setup setup{p.clip,   &p.stimulus, run.interrupted, stream_facts_of(run.s).stall_advice,
                              run.pace, sink};
    // The callback busy for its share of every call meanwhile (--buffers' soak under --load).
    stream_load(run.s, p.load_percent / 100.0);
    monitor_seen seen = monitor_watch_run(run.s, watch, setup);
    stream_load(run.s, 0.0);
    out.end = std::move(seen.end), out.trace = std::move(seen.trace), out.progress = seen.progress;
    out.clock = stream_clock_rate(run.s);
    return out;
}

mode_judgement monitor_judge(const monitor_outcome& o)
{
    mode_judgement j;
    check_end(j, "monitor", o.end);
    j.note = o.end.note;
    if (!o.end.ran)
        return j;
    const monitor_progress& p = o.progress;
    const int64_t glitches = p.summary.events + p.overruns;
    char text[200];
    mode_check locked = check_failed("stimulus_locked", check_status::glitches,
                                     "the stimulus never came back recognisably: nothing was checked (a gain or "
                                     "latency that changed since the measurement, a mute, a cable pulled)");
    if (p.summary.aligned)
        locked.result = check_result::pass, locked.words.clear();
    j.checks.push_back(locked);
    mode_check count;
    count.name = "glitches", count.value = static_cast<double>(glitches), count.direction = check_direction::lower;
    if (o.plan.max_glitches < 0) {
        count.max = 0.0;
        if (glitches > 0) {
            std::snprintf(text, sizeof text, "%lld glitch%s found", static_cast<long long>(glitches),
                          glitches > 1 ? "es" : "");
            count.result = check_result::fail, count.fails_with = check_status::glitches, count.words = text;
        }
    } else {
        count.max = static_cast<double>(o.plan.max_glitches);
        if (glitches > o.plan.max_glitches) {
            std::snprintf(text, sizeof text, "%lld glitches, more than --max-glitches %lld",
                          static_cast<long long>(glitches), static_cast<long long>(o.plan.max_glitches));
            count.result = check_result::fail, count.fails_with = check_status::monitor_limit, count.words = text;
        }
    }
    // The glitches' WAVs (--save-glitches), for a CI engine to attach to this case.
    if (!o.plan.save_dir.empty())
        for (const monitor_trace_event& e : o.trace.events)
            if (!e.file.empty())
                count.files.push_back(o.plan.save_dir + "/" + e.file);
    j.checks.push_back(count);
    if (o.plan.max_drift_ppm >= 0.0) {
        mode_check drift;
        drift.name = "drift_ppm", drift.unit = "ppm", drift.direction = check_direction::closer;
        drift.min = -o.plan.max_drift_ppm, drift.max = o.plan.max_drift_ppm;
        if (p.summary.aligned) {
            drift.value = p.summary.drift_ppm;
            if (std::fabs(p.summary.drift_ppm) > o.plan.max_drift_ppm) {
                std::snprintf(text, sizeof text, "drift %+.3f ppm, beyond --max-drift %g", p.summary.drift_ppm,
                              o.plan.max_drift_ppm);
                drift.result = check_result::fail, drift.fails_with = check_status::monitor_limit;
                drift.words = text;
            }
        } else {
            drift.result = check_result::skip;
        }
        j.checks.push_back(drift);
    }
    report_clock_check(o.clock, j);
    return j;
}

mode_row monitor_mode()
{
    mode_functions<monitor_plan, monitor_outcome> f;
    f.read = monitor_read, f.ready = monitor_ready, f.prepare = monitor_prepare, f.run = monitor_run;
    f.judge = monitor_judge, f.text = monitor_text, f.json = monitor_json, f.html = monitor_html;
    mode_row row = mode_make("monitor", "--monitor", monitor_options(), f);
    row.plays_on_loop = true, row.live = true, row.noted = true, row.two_clocks = true;
    return row;
}
