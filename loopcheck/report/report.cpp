// The report's frame: the JSON object's head and tail, the text's notes and
// the verdict's words, and the end's choice of what to print where.
#include "loopcheck/report/report.hpp"

#include "loopcheck/baseline/baseline.hpp"

#include "loopcheck/report/report_environment.hpp"

#include <cstdio>

#ifndef LOOPCABLE_VERSION
#error "LOOPCABLE_VERSION is the project's version, which CMake defines"
#endif

namespace {

using json = nlohmann::ordered_json;

// A device's index (none where PortAudio did not list it) and name.
std::string device_named(int index, const std::string& name)
{
    return (index >= 0 ? std::to_string(index) + " " : std::string()) + "\"" + name + "\"";
}

bool not_run(const mode_result& m) { return m.mode->noted && !m.end.ran; }

// The modes' blocks of the text, in order.
std::string modes_text(const session_result& r)
{
    std::string text;
    for (const mode_result& m : r.modes)
        text += m.mode->text(m.outcome, m.judgement, text_part::report);
    return text;
}

std::string not_run_text(const session_result& r)
{
    std::string text;
    for (const mode_result& m : r.modes)
        if (not_run(m))
            text += "note: --" + std::string(m.mode->name) + " did not run: " + m.end.reason + "\n";
    return text;
}

json head(const session_result& r, const check_verdict& v)
{
    const stream_facts& f = r.facts;
    json j;
    j["program"] = "loopcheck";
    j["version"] = LOOPCABLE_VERSION;
    j["schema_version"] = report_schema_version;
    j["status"] = std::string(check_status_of(v.status).json);
    j["exit_status"] = verdict_exit_code(v);
    j["message"] = verdict_message(v);
    j["host_api"] = f.host_api;
    // The index is PortAudio's: null on the stream straight on JACK.
    const auto index = [](int i) { return i >= 0 ? json(i) : json(nullptr); };
    j["device"] = {{"output", {{"index", index(f.out_device)}, {"name", f.out_name}}},
                   {"input", {{"index", index(f.in_device)}, {"name", f.in_name}}}};
    j["rate"] = f.rate;
    const auto nullable_buffer = [](int64_t b) { return b > 0 ? json(b) : json(nullptr); };
    j["buffer"] = {{"requested", nullable_buffer(r.request.buffer)}, {"granted", nullable_buffer(r.buffer_granted)}};
    const stream_request& q = r.request;
    j["channels"] = q.out_channels.size() > 1 ? json{{"output", q.out_channels}, {"input", q.in_channels}}
                                              : json{{"output", q.out_channels[0]}, {"input", q.in_channels[0]}};
    j["environment"] = report_environment_json(r);
    return j;
}

std::string line(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace) + "\n"; }

}  // namespace

std::string report_device_text(const stream_facts& f)
{
    if (f.in_device == f.out_device && f.in_name == f.out_name)
        return "device " + device_named(f.out_device, f.out_name);
    return "output device " + device_named(f.out_device, f.out_name) + ", input device " +
           device_named(f.in_device, f.in_name);
}

std::string report_json(const session_result& r, const check_verdict& v)
{
    json j = head(r, v);
    for (const mode_result& m : r.modes)
        m.mode->json(m.outcome, m.judgement, j);
    json modes = json::array();
    for (const mode_result& m : r.modes)
        if (not_run(m))
            modes.push_back({{"mode", m.mode->name}, {"reason", m.end.reason}});
    j["not_run"] = modes;
    // Names with any bytes: invalid UTF-8 is replaced, never a throw.
    return line(j);
}

// --baseline's comparison: a line per figure, the regressed ones named so (baseline_lines).
std::string baseline_text(const session_result& r) { return baseline_lines(r.baseline.checks); }

std::string report_text(const session_result& r, const check_verdict& v)
{
    const std::string message = verdict_message(v);
    return modes_text(r) + baseline_text(r) + not_run_text(r) + (message.empty() ? "" : message + "\n");
}

std::string report_notes(const session_result& r, const check_verdict&)
{
    std::string text;
    for (const mode_result& m : r.modes)
        text += m.mode->text(m.outcome, m.judgement, text_part::warnings);
    return text + not_run_text(r);
}

report_end report_ending(const session_result& r, const check_verdict& v, bool json_out, bool quiet)
{
    report_end end;
    const std::string message = verdict_message(v);
    // A live mode printed its lines as it ran, the report so far before them: its summary last.
    if (r.live_ran) {
        const mode_result& live = r.modes.back();
        if (json_out) {
            json j;
            live.mode->json(live.outcome, live.judgement, j);
            j["status"] = std::string(check_status_of(v.status).json);
            j["exit_status"] = verdict_exit_code(v);
            j["message"] = message;
            end.out = line(j);
        } else {
            end.out = live.mode->text(live.outcome, live.judgement, text_part::report) +
                      (message.empty() ? "" : message + "\n");
        }
        return end;
    }
    const bool failed = verdict_program_failure(v.status);
    if (json_out) {
        end.out = report_json(r, v);
    } else if (quiet) {
        // The one number, where a mode gives it under this status.
        for (const mode_result& m : r.modes)
            if (m.mode->quiet && end.out.empty())
                end.out = m.mode->quiet(m.outcome, v.status);
    } else if (!failed) {
        end.out = report_text(r, v);
    } else {
        // The program's own failure: what the modes that keep their text have, then the words.
        for (const mode_result& m : r.modes)
            if (m.mode->keeps_text)
                end.out += m.mode->text(m.outcome, m.judgement, text_part::report);
        if (!end.out.empty() && !message.empty())
            end.out += message + "\n";
    }
    // Standard error says the program's own failures, and with -q any words at all.
    if (failed || (quiet && !message.empty()))
        end.err = message + "\n";
    return end;
}
