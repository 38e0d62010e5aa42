// The session's verdict over every mode's outcome.
#include "loopcheck/verdict/verdict.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

struct judged_failure {
    check_status status;
    std::string message;
};

bool allowed_monitor(const check_report& r) { return !r.input_is_monitor || r.options.allow_monitor; }

// The runs' spread on loop k: more than runs_agree_frames apart is unstable.
std::string disagreement(const check_report& r, size_t k)
{
    const run_statistics s = runs_statistics(verdict_loop_runs(r, k));
    if (s.max - s.min <= runs_agree_frames)
        return "";
    char text[160];
    std::snprintf(text, sizeof text, "unstable: the runs disagree by %.3f frames (from %.3f to %.3f)", s.max - s.min,
                  s.min, s.max);
    return text;
}

bool within_expected(const check_report& r, size_t k)
{
    const run_statistics s = runs_statistics(verdict_loop_runs(r, k));
    return std::fabs(s.mean - r.options.expect_frames) <= r.options.expect_tolerance;
}

size_t loops_of(const check_report& r) { return 1 + r.loops.size(); }

// Each loop's message carries its name when there are several.
std::string loop_named(const check_report& r, size_t k, const std::string& text)
{
    return r.options.out_channels.size() > 1 ? verdict_loop_name(r.options, k) + ": " + text : text;
}

// A mode's failure in the verdict's words: the program's own failures (an
// error, an interruption) name the program, as standard error shows them.
void end_failure(std::vector<judged_failure>& out, const mode_end& e)
{
    if (e.failure == check_status::error || e.failure == check_status::interrupted)
        out.push_back({e.failure, "loopcheck: " + e.reason});
    else if (e.failure != check_status::ok)
        out.push_back({e.failure, e.reason});
}

// Whether the runs on every loop agree; the disagreements into out.
bool runs_agree(const check_report& r, std::vector<judged_failure>& out)
{
    bool agree = true;
    for (size_t k = 0; k < loops_of(r); k++) {
        const std::string spread = disagreement(r, k);
        if (!spread.empty())
            out.push_back({check_status::unstable, loop_named(r, k, spread)}), agree = false;
    }
    return agree;
}

// The judgements of a latency that stands: the input is the cable, the mean within --expect.
void latency_failures(const check_report& r, std::vector<judged_failure>& out)
{
    if (!allowed_monitor(r))
        out.push_back({check_status::monitor_input,
                       "input is an output's monitor: \"" + r.in_name +
                           "\" hands back what was played, not what the cable brings (--allow-monitor to accept it)"});
    if (!r.options.expect)
        return;
    char text[160];
    std::snprintf(text, sizeof text, "outside the expected %.3f ± %.3f frames", r.options.expect_frames,
                  r.options.expect_tolerance);
    for (size_t k = 0; k < loops_of(r); k++)
        if (!within_expected(r, k))
            out.push_back({check_status::outside_expected, loop_named(r, k, text)});
}

void battery_failures(const check_report& r, std::vector<judged_failure>& out)
{
    end_failure(out, r.battery);
    if (!r.battery.ran || !r.quality.judged)
        return;
    std::string failed;
    for (const quality_verdict& v : r.quality.verdicts)
        if (!v.pass)
            failed += (failed.empty() ? "" : ", ") + v.figure;
    if (!failed.empty())
        out.push_back({check_status::outside_limits, "outside limits: " + failed});
}

void monitor_failures(const check_report& r, std::vector<judged_failure>& out)
{
    end_failure(out, r.watch);
    if (!r.watch.ran)
        return;
    for (const mode_judgement& j : verdict_monitor(r.options.monitor, r.monitor_end))
        out.push_back({j.status, j.message});
}

// The sweep's own end, then its gate: a safe size within --max-latency-ms.
void sweep_failures(const check_report& r, std::vector<judged_failure>& out)
{
    end_failure(out, r.buffers);
    const double most = r.options.sweep.max_latency_ms;
    if (!r.buffers.ran || r.buffers.failure != check_status::ok || most < 0.0)
        return;
    for (const sweep_row& row : r.sweep.rows)
        if (sweep_row_safe(row) && sweep_row_ms(row) <= most)
            return;
    const sweep_row* safe = sweep_smallest_safe(r.sweep);
    char text[200];
    if (safe)
        std::snprintf(text, sizeof text,
                      "no glitch-free buffer within --max-latency-ms %g: the smallest safe, %lld frames, has a "
                      "round trip of %.3f ms",
                      most, static_cast<long long>(safe->granted), sweep_row_ms(*safe));
    else
        std::snprintf(text, sizeof text, "no glitch-free buffer within --max-latency-ms %g: no size was glitch-free",
                      most);
    out.push_back({check_status::max_latency, text});
}

std::vector<check_finding> findings_of(const check_report& r)
{
    std::vector<check_finding> f;
    double peak = 0.0;
    bool weak = false, inverted = false, echo = false, retried = false;
    for (const run_report& x : r.runs) {
        peak = std::max(peak, x.result.input_peak);
        weak = weak || x.result.snr_db < weak_snr_db;
        inverted = inverted || x.result.inverted;
        echo = echo || (x.result.has_next && x.result.next_level_db > echo_warning_db);
        retried = retried || x.attempts > 1;
    }
    if (!r.runs.empty() && peak >= clipping_level)
        f.push_back(check_finding::clipping);
    if (!r.runs.empty() && peak > near_clipping_level)
        f.push_back(check_finding::near_clipping);
    if (weak)
        f.push_back(check_finding::weak_signal);
    if (inverted)
        f.push_back(check_finding::inverted);
    if (echo)
        f.push_back(check_finding::echo);
    if (retried)
        f.push_back(check_finding::retried);
    if (r.input_is_monitor)
        f.push_back(check_finding::input_is_monitor);
    return f;
}

void note_not_run(const check_report& r, bool asked, const mode_end& e, const char* mode, bool after_battery,
                  std::vector<check_not_run>& out)
{
    if (!asked || e.ran)
        return;
    const std::string blocker = verdict_blocker(r, after_battery);
    out.push_back({mode, !e.reason.empty() ? e.reason : blocker.empty() ? "the session ended before it" : blocker});
}

}  // namespace

std::string verdict_loop_name(const check_options& o, size_t k)
{
    char text[96];
    std::snprintf(text, sizeof text, "loop %zu (out %lld, in %lld)", k + 1,
                  static_cast<long long>(k < o.out_channels.size() ? o.out_channels[k] : o.out_channel),
                  static_cast<long long>(k < o.in_channels.size() ? o.in_channels[k] : o.in_channel));
    return text;
}

std::span<const run_report> verdict_loop_runs(const check_report& r, size_t k)
{
    return k == 0 ? std::span<const run_report>(r.runs) : std::span<const run_report>(r.loops[k - 1].runs);
}

std::string verdict_blocker(const check_report& r, bool after_battery)
{
    if (r.setup.failure != check_status::ok)
        return "the stream never started";
    if (!r.latency.ran || r.latency.failure != check_status::ok || r.runs.empty())
        return std::string(check_status_of(r.latency.ran ? r.latency.failure : check_status::error).text);
    for (size_t k = 0; k < loops_of(r); k++)
        if (!disagreement(r, k).empty())
            return "unstable: the runs disagree";
    if (!allowed_monitor(r))
        return std::string(check_status_of(check_status::monitor_input).text);
    if (after_battery && (r.battery.failure == check_status::interrupted || r.battery.failure == check_status::error))
        return std::string(check_status_of(r.battery.failure).text);
    return "";
}

std::vector<mode_judgement> verdict_monitor(const monitor_settings& o, const monitor_progress& p)
{
    std::vector<mode_judgement> out;
    const int64_t glitches = p.summary.events + p.overruns;
    char text[200];
    if (!p.summary.aligned)
        out.push_back({check_status::glitches,
                       "the stimulus never came back recognisably: nothing was checked (a gain or latency that "
                       "changed since the measurement, a mute, a cable pulled)"});
    if (o.max_glitches < 0 && glitches > 0) {
        std::snprintf(text, sizeof text, "%lld glitch%s found", static_cast<long long>(glitches),
                      glitches > 1 ? "es" : "");
        out.push_back({check_status::glitches, text});
    }
    if (o.max_glitches >= 0 && glitches > o.max_glitches) {
        std::snprintf(text, sizeof text, "%lld glitches, more than --max-glitches %lld",
                      static_cast<long long>(glitches), static_cast<long long>(o.max_glitches));
        out.push_back({check_status::monitor_limit, text});
    }
    if (o.max_drift_ppm >= 0.0 && p.summary.aligned && std::fabs(p.summary.drift_ppm) > o.max_drift_ppm) {
        std::snprintf(text, sizeof text, "drift %+.3f ppm, beyond --max-drift %g", p.summary.drift_ppm,
                      o.max_drift_ppm);
        out.push_back({check_status::monitor_limit, text});
    }
    return out;
}

check_verdict verdict_judge(const check_report& r)
{
    check_verdict v;
    std::vector<judged_failure> failures;
    end_failure(failures, r.setup);
    end_failure(failures, r.latency);
    v.measured = r.setup.failure == check_status::ok && r.latency.ran && r.latency.failure == check_status::ok &&
                 !r.runs.empty() && runs_agree(r, failures);
    if (v.measured) {
        latency_failures(r, failures);
        if (r.options.expect) {
            bool within = allowed_monitor(r);
            for (size_t k = 0; k < loops_of(r); k++)
                within = within && within_expected(r, k);
            v.expect_pass = within;
        }
    } else if (r.options.expect) {
        v.expect_pass = false;
    }
    battery_failures(r, failures);
    monitor_failures(r, failures);
    sweep_failures(r, failures);
    end_failure(failures, r.files);
    // The deciding failure first; the rest after it in the same order, so
    // that every check that failed is named.
    std::stable_sort(failures.begin(), failures.end(), [](const judged_failure& a, const judged_failure& b) {
        return check_status_rank(a.status) < check_status_rank(b.status);
    });
    if (!failures.empty())
        v.status = failures.front().status;
    for (const judged_failure& f : failures)
        if (!f.message.empty())
            v.message += (v.message.empty() ? "" : "; ") + f.message;
    for (const mode_end* e : {&r.setup, &r.latency, &r.battery, &r.watch, &r.buffers, &r.files})
        if (!e->note.empty())
            v.message += (v.message.empty() ? "" : "; ") + e->note;
    v.findings = findings_of(r);
    note_not_run(r, r.options.quality, r.battery, "quality", false, v.not_run);
    note_not_run(r, r.options.monitor.on, r.watch, "monitor", true, v.not_run);
    return v;
}

int verdict_exit_code(const check_verdict& v) { return check_status_of(v.status).exit_code; }

bool verdict_has(const check_verdict& v, check_finding f)
{
    return std::find(v.findings.begin(), v.findings.end(), f) != v.findings.end();
}
