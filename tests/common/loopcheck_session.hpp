// A loopcheck session as the tests build it, without a stream: each mode's
// outcome as the test writes it, judged by the mode's own judge and put
// together with the stream's facts as the session would, so that the
// verdict's fold and the renderers see what they see after a real run.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "loopcheck/buffers/buffers.hpp"
#include "loopcheck/idle/idle.hpp"
#include "loopcheck/latency/latency.hpp"
#include "loopcheck/modes.hpp"
#include "loopcheck/monitor/monitor.hpp"
#include "loopcheck/quality/quality.hpp"
#include "loopcheck/reopen/reopen.hpp"
#include "loopcheck/verdict/verdict.hpp"

// The row of the mode table named name.
inline const mode_row& test_mode(const std::string& name)
{
    for (const mode_row& m : loopcheck_modes())
        if (name == m.name)
            return m;
    throw std::invalid_argument("no mode " + name);
}

// A run that found the loop at latency frames.
inline run_report test_run_at(double latency, double gain_db = -6.0)
{
    run_report x;
    x.result.loop = true;
    x.result.latency = latency;
    x.result.latency_uncertainty = 0.001;
    x.result.gain_db = gain_db;
    x.result.snr_db = 80.0;
    x.result.input_peak = 0.25;
    return x;
}

// The stream the tests' sessions ran on.
inline stream_facts test_facts()
{
    stream_facts f;
    f.host_api = "scripted";
    f.out_name = f.in_name = "scripted";
    f.rate = 48000.0;
    return f;
}

struct test_session {
    std::string setup_failure;  // the stream's, "" when it opened
    stream_request request;
    stream_facts facts = test_facts();
    int64_t buffer_granted = 256;
    std::optional<latency_outcome> latency;  // none: a session --buffers took to itself
    std::optional<battery_outcome> quality;
    std::optional<idle_outcome> idle;
    std::optional<monitor_outcome> monitor;
    std::optional<buffers_outcome> buffers;
    std::optional<reopen_outcome> reopen;  // with latency none: --reopen took the session to itself
};

// A session whose latency stands: two runs at 600 frames on one loop, on the test's stream.
inline test_session test_measured()
{
    test_session s;
    latency_outcome l;
    l.end.ran = true;
    l.facts = s.facts;
    l.buffer_granted = s.buffer_granted;
    l.measured.runs = {test_run_at(600.0), test_run_at(600.0)};
    s.latency = l;
    return s;
}

inline session_result test_result(const test_session& s)
{
    session_result r;
    r.request = s.request;
    r.facts = s.facts;
    r.buffer_granted = s.buffers ? 0 : s.buffer_granted;
    if (!s.setup_failure.empty())
        r.setup.checks.push_back(check_failed("stream", check_status::error, s.setup_failure));
    const auto add = [&r](const char* name, const std::any& outcome) {
        const mode_row& m = test_mode(name);
        mode_result result{&m, outcome, m.ended(outcome), m.judge(outcome)};
        r.live_ran = r.live_ran || (m.live && result.end.ran);
        r.modes.push_back(std::move(result));
    };
    add("latency", s.latency ? std::any(*s.latency) : test_mode("latency").unrun(latency_plan{}, {}));
    if (s.quality)
        add("quality", *s.quality);
    if (s.idle)
        add("idle", *s.idle);
    if (s.monitor)
        add("monitor", *s.monitor);
    if (s.buffers)
        add("buffers", *s.buffers);
    if (s.reopen)
        add("reopen", *s.reopen);
    return r;
}

inline check_verdict test_verdict(const session_result& r) { return verdict_fold(session_judgements(r)); }
