// The latency as a mode: its options, its plan, the sweeps it gives the
// stream, its run on every loop, its judgement, and what it hands on.
#include <cmath>
#include <cstdio>

#include "analysis/sweep.hpp"
#include "loopcheck/latency/latency.hpp"
#include "loopcheck/options/option_table.hpp"
#include "loopcheck/options/options.hpp"
#include "loopcheck/report/clock_words.hpp"

namespace {

// clang-format off
constexpr option_row latency_rows[] = {
    {"--level", "DBFS", "peak level of the sweep in dBFS,", "", -80.0, 0.0, "-12", "", option_kind::number},
    {"--repeat", "N", "measure N times,", "With several runs the summary adds the mean, minimum, maximum and "
     "standard deviation.", 1.0, 100.0, "1", "", option_kind::whole},
    {"--max-delay", "SECONDS", "the longest loop looked for, in seconds,", "", 0.001, 10.0, "2", "",
     option_kind::number},
    {"--settle", "SECONDS", "silence after the stream's first frames, before the first sweep, in seconds,", "", 0.0,
     10.0, "0.05", "", option_kind::number},
    {"--expect", "FRAMES[:TOLERANCE]",
     "exit status 5 unless the latency lies within TOLERANCE frames (0.5 unless given) of FRAMES; FRAMES",
     "It never passes on an output's monitor.", -1e9, 1e9},
    {"--allow-monitor", "", "exit status 0, not 6, when the input is an output's monitor", "", 0.0, 0.0, "", "",
     option_kind::flag},
    {"--compensation", "", "after the summary, what to type where: jackd's -I/-O, PipeWire's latency.internal.rate, "
     "a DAW's recording offset", "", 0.0, 0.0, "", "", option_kind::flag},
    {"--response", "FILE.csv|.frd",
     "also measure the response with a 0.85 s sweep and write it: FRD (REW, VituixCAD) for a name ending .frd, "
     "else CSV",
     "The CSV's columns are frequency_hz,level_db,phase_deg,snr_db; FRD has comment lines starting with *, then "
     "frequency, magnitude in dB and phase in degrees per line."},
    {"--ir", "FILE.csv|.wav",
     "write the impulse response around its peak: 32-bit float WAV at the run's rate for a name ending .wav, else "
     "CSV",
     "The CSV's columns are frame,value; the WAV's first frame is 256 frames (at 48 kHz) before the peak."},
};
// clang-format on

// FRAMES or FRAMES:TOLERANCE.
std::string expect_read(const std::string& text, latency_plan& p)
{
    const option_row& row = latency_rows[4];
    const size_t colon = text.find(':');
    std::string problem = options_number(text.substr(0, colon), row.min, row.max, p.expect_frames);
    if (!problem.empty())
        return "--expect: FRAMES " + problem;
    if (colon != std::string::npos) {
        problem = options_number(text.substr(colon + 1), 0.0, row.max, p.expect_tolerance);
        if (!problem.empty())
            return "--expect: TOLERANCE " + problem;
    }
    p.expect = true;
    return "";
}

std::string latency_read(const option_values& v, latency_plan& p, bool& asked)
{
    // Every session measures the latency, but one that --buffers takes to itself.
    asked = true;
    p.level_dbfs = option_number(v, "--level", p.level_dbfs);
    p.repeat = static_cast<int64_t>(option_number(v, "--repeat", static_cast<double>(p.repeat)));
    p.max_delay_s = option_number(v, "--max-delay", p.max_delay_s);
    p.settle_s = option_number(v, "--settle", p.settle_s);
    p.allow_monitor = option_given(v, "--allow-monitor");
    p.compensation = option_given(v, "--compensation");
    p.response_file = option_text(v, "--response");
    p.ir_file = option_text(v, "--ir");
    p.report = option_given(v, "--report");
    p.buffer_asked = static_cast<int64_t>(option_number(v, "--buffer", 0.0));
    std::string problem = options_loops(v, p.out_channels, p.in_channels);
    if (problem.empty() && option_given(v, "--expect"))
        problem = expect_read(option_text(v, "--expect"), p);
    return problem;
}

// The files can be written, before anything is measured.
std::string latency_ready(const latency_plan& p) { return latency_files_ready(p); }

// The sweeps play on every loop at once; each loop's capture is analysed against the one sweep.
std::string latency_prepare(latency_plan& p, stream& s)
{
    const double rate = stream_facts_of(s).rate;
    const int loops = stream_facts_of(s).loops;
    const double amplitude = std::pow(10.0, p.level_dbfs / 20.0);
    p.short_sweep = sweep_make(sweep_frames(rate, false), rate, amplitude);
    p.long_sweep = sweep_make(sweep_frames(rate, true), rate, amplitude);
    p.response_sweep = sweep_make(sweep_frames_response(rate), rate, amplitude);
    p.sweeps.short_clip = stream_clip_add(s, stream_clip_loops(p.short_sweep, loops));
    p.sweeps.long_clip = stream_clip_add(s, stream_clip_loops(p.long_sweep, loops));
    p.sweeps.response_clip = stream_clip_add(s, stream_clip_loops(p.response_sweep, loops));
    // Room for the longest run twice over, its lead and its tail included.
    const int64_t longest = std::lrint((p.max_delay_s + p.settle_s + 1.0) * rate) +
                            static_cast<int64_t>(p.long_sweep.size()) + capture_tail(rate, true);
    stream_ring_need(s, 2 * longest);
    return "";
}

// The runs' plan on the stream the session opened.
runs_plan runs_plan_of(const latency_plan& p, const stream_facts& f)
{
    runs_plan r;
    r.rate = f.rate, r.repeat = p.repeat;
    r.max_delay_s = p.max_delay_s, r.settle_s = p.settle_s;
    r.response = !p.response_file.empty();
    // The report draws the response too, from whichever sweep the run had: its noise is wanted as well.
    r.rows = r.response || p.report;
    if (p.out_channels.size() > 1)
        for (size_t k = 0; k < p.out_channels.size(); k++)
            r.loop_names.push_back(latency_loop_name(p, k));
    for (const int64_t channel : p.in_channels)
        r.inputs.push_back("input " + std::to_string(channel) + " of \"" + f.in_name + "\"");
    r.host_api = f.host_api;
    return r;
}

latency_outcome latency_run(const latency_plan& p, const mode_prior&, mode_run& run)
{
    latency_outcome out;
    out.plan = p;
    out.facts = stream_facts_of(run.s);
    if (!p.response_file.empty() && !run.live.json && !run.live.quiet)
        run.live.warn("loopcheck: measuring the response too: a 0.85 s sweep\n");
    runs_setup setup = p.sweeps;
    setup.short_sweep = p.short_sweep, setup.long_sweep = p.long_sweep, setup.response_sweep = p.response_sweep;
    setup.interrupted = run.interrupted;
    setup.stall_advice = out.facts.stall_advice;
    // Each run as it is measured, for a person watching.
    runs_hook on_run;
    if (!run.live.json && !run.live.quiet)
        on_run = [&run, &out](const run_report& r, size_t i) { run.live.say(latency_run_text(r, i, out.facts)); };
    runs_outcome measured =
        loops_measure(run.s, runs_plan_of(p, out.facts), setup, run.wait, on_run, p.out_channels, p.in_channels);
    out.end = std::move(measured.end);
    out.measured = std::move(measured.facts);
    if (out.end.failure == check_status::error)
        out.end.reason += stream_host_words(run.s);
    out.buffer_granted = stream_largest_buffer(run.s);
    out.clock = stream_clock_rate(run.s);
    // The files, once the latency stands.
    if (latency_stands(out)) {
        const std::string problem = latency_files_write(out);
        if (!problem.empty())
            out.files = {true, check_status::error, problem, ""};
    }
    return out;
}

// Loop k's spread: runs more than runs_agree_frames apart are unstable.
std::string disagreement(const latency_outcome& o, size_t k)
{
    const run_statistics s = runs_statistics(latency_loop_runs(o, k));
    if (s.max - s.min <= runs_agree_frames)
        return "";
    char text[160];
    std::snprintf(text, sizeof text, "unstable: the runs disagree by %.3f frames (from %.3f to %.3f)", s.max - s.min,
                  s.min, s.max);
    return text;
}

bool within_expected(const latency_outcome& o, size_t k)
{
    const run_statistics s = runs_statistics(latency_loop_runs(o, k));
    return std::fabs(s.mean - o.plan.expect_frames) <= o.plan.expect_tolerance;
}

bool allowed_monitor(const latency_outcome& o) { return !o.facts.input_is_monitor || o.plan.allow_monitor; }

// Each loop's words carry its name when there are several.
std::string loop_named(const latency_outcome& o, size_t k, const std::string& text)
{
    return o.plan.out_channels.size() > 1 ? latency_loop_name(o.plan, k) + ": " + text : text;
}

// Loop k's latency: its mean, a record, or with --expect held to the frames expected.
mode_check expect_check(const latency_outcome& o, size_t k)
{
    const run_statistics s = runs_statistics(latency_loop_runs(o, k));
    mode_check c;
    c.name = "latency_frames";
    c.value = s.mean, c.unit = "frames";
    if (!o.plan.expect)
        return c;  // a record: nothing to hold it to
    c.min = o.plan.expect_frames - o.plan.expect_tolerance, c.max = o.plan.expect_frames + o.plan.expect_tolerance;
    c.direction = check_direction::closer;
    if (within_expected(o, k))
        return c;
    char text[160];
    std::snprintf(text, sizeof text, "outside the expected %.3f ± %.3f frames", o.plan.expect_frames,
                  o.plan.expect_tolerance);
    c.result = check_result::fail, c.fails_with = check_status::outside_expected;
    c.words = loop_named(o, k, text);
    return c;
}

// The judgements of a latency: how it ended, whether the runs agree, and of
// one that stands, whether the input is the cable and the mean within --expect.
mode_judgement latency_judge(const latency_outcome& o)
{
    mode_judgement j;
    // No loop is the loop check's failure; the rest the latency's.
    check_end(j, o.end.failure == check_status::no_loop ? "loop_found" : "latency", o.end);
    bool agree = true;
    if (o.end.ran && o.end.failure == check_status::ok && !o.measured.runs.empty())
        for (size_t k = 0; k < latency_loops(o); k++) {
            const std::string spread = disagreement(o, k);
            if (!spread.empty())
                j.checks.push_back(check_failed("runs_agree", check_status::unstable, loop_named(o, k, spread))),
                    agree = false;
        }
    if (latency_stands(o)) {
        if (!allowed_monitor(o))
            j.checks.push_back(
                check_failed("input_is_cable", check_status::monitor_input,
                             "input is an output's monitor: \"" + o.facts.in_name +
                                 "\" hands back what was played, not what the cable brings (--allow-monitor to "
                                 "accept it)"));
        for (size_t k = 0; k < latency_loops(o); k++) {
            // Every loop found, and its latency: a record, or held to --expect.
            mode_check found;
            found.name = "loop_found";
            j.checks.push_back(found);
            j.checks.push_back(expect_check(o, k));
        }
    }
    check_end(j, "files", o.files);
    report_clock_check(o.clock, j);
    // What the modes that play on the measured loop need: loops that are there, hold still and are the cable.
    if (!o.end.ran || o.end.failure != check_status::ok || o.measured.runs.empty())
        j.blocks = std::string(check_status_of(o.end.ran ? o.end.failure : check_status::error).text);
    else if (!agree)
        j.blocks = "unstable: the runs disagree";
    else if (!allowed_monitor(o))
        j.blocks = std::string(check_status_of(check_status::monitor_input).text);
    return j;
}

// The loops as measured: each one's mean latency, and loop 1's gain signed by its last run's polarity.
void latency_hand_on(const latency_outcome& o, mode_prior& prior)
{
    prior.latency_frames.clear();
    for (size_t k = 0; k < latency_loops(o); k++)
        prior.latency_frames.push_back(runs_statistics(latency_loop_runs(o, k)).mean);
    const run_statistics s = latency_statistics(o);
    const bool inverted = !o.measured.runs.empty() && o.measured.runs.back().result.inverted;
    prior.gain = (inverted ? -1.0 : 1.0) * std::pow(10.0, s.gain_db / 20.0);
}

}  // namespace

std::span<const option_row> latency_options() { return latency_rows; }

std::span<const run_report> latency_loop_runs(const latency_outcome& o, size_t k)
{
    return k == 0 ? std::span<const run_report>(o.measured.runs)
                  : std::span<const run_report>(o.measured.loops[k - 1].runs);
}

size_t latency_loops(const latency_outcome& o) { return 1 + o.measured.loops.size(); }

std::string latency_loop_name(const latency_plan& p, size_t k)
{
    char text[96];
    std::snprintf(text, sizeof text, "loop %zu (out %lld, in %lld)", k + 1,
                  static_cast<long long>(k < p.out_channels.size() ? p.out_channels[k] : p.out_channels[0]),
                  static_cast<long long>(k < p.in_channels.size() ? p.in_channels[k] : p.in_channels[0]));
    return text;
}

bool latency_stands(const latency_outcome& o)
{
    if (!o.end.ran || o.end.failure != check_status::ok || o.measured.runs.empty())
        return false;
    for (size_t k = 0; k < latency_loops(o); k++)
        if (!disagreement(o, k).empty())
            return false;
    return true;
}

bool latency_expect_pass(const latency_outcome& o)
{
    if (!latency_stands(o) || !allowed_monitor(o))
        return false;
    for (size_t k = 0; k < latency_loops(o); k++)
        if (!within_expected(o, k))
            return false;
    return true;
}

run_statistics latency_statistics(const latency_outcome& o) { return runs_statistics(o.measured.runs); }

latency_findings latency_findings_of(const latency_outcome& o)
{
    latency_findings f;
    for (const run_report& x : o.measured.runs) {
        f.peak = std::max(f.peak, x.result.input_peak);
        f.weak_signal = f.weak_signal || x.result.snr_db < weak_snr_db;
        f.inverted = f.inverted || x.result.inverted;
        f.echo = f.echo || (x.result.has_next && x.result.next_level_db > echo_warning_db);
        f.retried = f.retried || x.attempts > 1;
    }
    f.clipping = !o.measured.runs.empty() && f.peak >= clipping_level;
    f.near_clipping = !o.measured.runs.empty() && f.peak > near_clipping_level;
    f.input_is_monitor = o.facts.input_is_monitor;
    return f;
}

mode_row latency_mode()
{
    mode_functions<latency_plan, latency_outcome> f;
    f.read = latency_read, f.ready = latency_ready, f.prepare = latency_prepare, f.run = latency_run;
    f.judge = latency_judge, f.hand_on = latency_hand_on;
    f.text = latency_text, f.quiet = latency_quiet, f.json = latency_json, f.html = latency_html;
    return mode_make("latency", "the latency", latency_options(), f);
}
