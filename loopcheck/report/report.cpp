// Text and JSON reports.
#include "loopcheck/report/report.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "loopcheck/report/quality_report.hpp"
#include "loopcheck/report/sweep_report.hpp"
#include "loopcheck/verdict/verdict.hpp"

#ifndef LOOPCABLE_VERSION
#error "LOOPCABLE_VERSION is the project's version, which CMake defines"
#endif

namespace {

using json = nlohmann::ordered_json;

std::string frames_text(double frames) { return report_figure("%.3f", frames); }
std::string ms_text(double frames, double rate) { return report_figure("%.3f", 1000.0 * frames / rate); }

double input_peak(const check_report& r)
{
    double peak = 0.0;
    for (const run_report& x : r.runs)
        peak = std::max(peak, x.result.input_peak);
    return peak;
}

// A device's index (none where PortAudio did not list it) and name.
std::string device_named(int index, const std::string& name)
{
    return (index >= 0 ? std::to_string(index) + " " : std::string()) + "\"" + name + "\"";
}

// The retries of loop k + 2's runs.
std::string loop_warnings(const loop_runs& l, size_t k)
{
    std::string text;
    for (size_t i = 0; i < l.runs.size(); i++)
        for (const std::string& d : l.runs[i].dropouts)
            text += "warning: loop " + std::to_string(k + 2) + " run " + std::to_string(i + 1) +
                    " retried after a dropout: " + d + "\n";
    return text;
}

std::string not_run_text(const check_verdict& v)
{
    std::string text;
    for (const check_not_run& n : v.not_run)
        text += "note: --" + n.mode + " did not run: " + n.reason + "\n";
    return text;
}

}  // namespace

std::string report_device_text(const check_report& r)
{
    if (r.in_device == r.out_device && r.in_name == r.out_name)
        return "device " + device_named(r.out_device, r.out_name);
    return "output device " + device_named(r.out_device, r.out_name) + ", input device " +
           device_named(r.in_device, r.in_name);
}

std::string report_run_text(const check_report& r, const run_report& run, size_t i)
{
    const run_result& x = run.result;
    std::string text = "run " + std::to_string(i + 1) + ": latency " +
                       report_latency_text(x.latency, x.latency_uncertainty) + " frames (" +
                       ms_text(x.latency, r.rate) + " ms) at " + report_figure("%.0f", r.rate) + " Hz · gain " +
                       report_figure("%.2f", x.gain_db) + " dB · polarity " + (x.inverted ? "inverted" : "normal") +
                       " · SNR " + report_figure("%.0f", x.snr_db) + " dB\n";
    text += "       group delay " + frames_text(x.group_delay) + " frames (at 1 kHz " +
            frames_text(x.group_delay_1khz) +
            (x.group_delay_1khz_sd >= 0.0 ? " ± " + frames_text(x.group_delay_1khz_sd) : std::string()) + ") · peak " +
            std::to_string(x.peak) + " (" + report_figure("%.4f", x.peak_value) + ")";
    if (x.has_next)
        text += " · next peak " + report_figure("%+.0f", static_cast<double>(x.next_offset)) + " frames at " +
                report_figure("%.1f", x.next_level_db) + " dB";
    if (outcome_reported_known(r))
        text += " · excess " + frames_text(x.latency - outcome_reported_frames(r)) + " frames";
    if (run.lengthened)
        text += " · measured again with the long sweep (SNR below 60 dB)";
    text += "\n";
    return text;
}

std::string report_warnings_text(const check_report& r, const check_verdict& v)
{
    std::string text;
    const double peak = input_peak(r);
    if (verdict_has(v, check_finding::clipping))
        text += "warning: input clipping (peak " + report_figure("%.2f", 20.0 * std::log10(peak)) +
                " dBFS): the latency stands, the response does not\n";
    else if (verdict_has(v, check_finding::near_clipping))
        text += "note: input above -3 dBFS (peak " + report_figure("%.2f", 20.0 * std::log10(peak)) + " dBFS)\n";
    for (size_t i = 0; i < r.runs.size(); i++) {
        const run_result& x = r.runs[i].result;
        const std::string run = r.runs.size() > 1 ? " in run " + std::to_string(i + 1) : "";
        if (x.snr_db < weak_snr_db)
            text += "warning: weak signal" + run + ": SNR " + report_figure("%.0f", x.snr_db) + " dB (below 30 dB)\n";
        if (x.has_next && x.next_level_db > echo_warning_db)
            text += "warning: next peak within 30 dB" + run + ": " +
                    report_figure("%+.0f", static_cast<double>(x.next_offset)) + " frames (" +
                    report_figure("%+.3f", 1000.0 * static_cast<double>(x.next_offset) / r.rate) + " ms) at " +
                    report_figure("%.1f", x.next_level_db) + " dB: an echo or a monitoring path\n";
        for (const std::string& d : r.runs[i].dropouts)
            text += "warning: run " + std::to_string(i + 1) + " retried after a dropout: " + d + "\n";
    }
    if (verdict_has(v, check_finding::inverted))
        text += "warning: polarity inverted (the latency stands)\n";
    if (r.input_is_monitor && r.options.allow_monitor)
        text += "warning: the input is an output's monitor: the inputs of \"" + r.in_name +
                "\" are its monitor ports, so this measures PipeWire's monitor (one quantum), not the "
                "cable; give the card's sink as --out-device and its source as --in-device\n";
    return text;
}

std::string report_notes_text(const check_report& r, const check_verdict& v)
{
    std::string text = report_warnings_text(r, v);
    for (size_t k = 0; k < r.loops.size(); k++)
        text += loop_warnings(r.loops[k], k);
    return text + quality_report_warnings(r.quality) + not_run_text(v);
}

std::string report_tail_text(const check_report& r, const check_verdict& v)
{
    std::string text;
    if (!r.runs.empty()) {
        const run_statistics s = outcome_statistics(r);
        text += "summary: " + std::to_string(r.runs.size()) + (r.runs.size() == 1 ? " run" : " runs") + " · latency " +
                report_latency_text(s.mean, s.uncertainty) + " frames (" + ms_text(s.mean, r.rate) + " ms)";
        if (r.runs.size() > 1)
            text += ", min " + frames_text(s.min) + ", max " + frames_text(s.max) + ", sd " + frames_text(s.sd) +
                    " · gain " + report_figure("%.2f", s.gain_db) + " dB";
        text += " · " + report_device_text(r) + " (" + r.host_api + ") · " + report_figure("%.0f", r.rate) +
                " Hz · buffer " + std::to_string(r.buffer_granted) +
                (outcome_reported_known(r)
                     ? " · reported " + frames_text(outcome_reported_frames(r)) + " frames · excess " +
                           frames_text(s.mean - outcome_reported_frames(r)) + " frames\n"
                     : std::string(" · reported latency unknown (the host's figure is not one)\n"));
    }
    text += report_warnings_text(r, v);
    if (r.has_response) {
        text += "response: " + r.options.response_file + (r.response_valid ? "" : " (not valid: the input clipped)") +
                " · flat ±" + report_figure("%.2f", r.response.flatness_db) + " dB from " +
                report_figure("%.0f", r.response.band_low_hz) + " to " +
                report_figure("%.0f", r.response.band_high_hz) + " Hz · -3 dB points " +
                (r.response.minus3_low_hz < 0 ? std::string("below 12 Hz")
                                              : report_figure("%.1f Hz", r.response.minus3_low_hz)) +
                ", " +
                (r.response.minus3_high_hz < 0 ? std::string("none below Nyquist")
                                               : report_figure("%.0f Hz", r.response.minus3_high_hz)) +
                "\n";
    }
    for (size_t k = 0; k < r.loops.size(); k++) {
        const loop_runs& l = r.loops[k];
        if (l.runs.empty())
            continue;
        const run_statistics s = runs_statistics(l.runs);
        text += "loop " + std::to_string(k + 2) + " (out " + std::to_string(l.out_channel) + " → in " +
                std::to_string(l.in_channel) + "): latency " + report_latency_text(s.mean, s.uncertainty) +
                " frames (" + ms_text(s.mean, r.rate) + " ms) · gain " + report_figure("%.2f", s.gain_db) + " dB · " +
                std::to_string(l.runs.size()) + (l.runs.size() == 1 ? " run" : " runs") + "\n";
        text += loop_warnings(l, k);
    }
    text += quality_report_text(r.quality, r.options.out_channels, r.options.in_channels);
    text += not_run_text(v);
    if (!v.message.empty())
        text += v.message + "\n";
    return text;
}

std::string report_json(const check_report& r, const check_verdict& v)
{
    auto nullable_buffer = [](int64_t b) { return b > 0 ? json(b) : json(nullptr); };
    json j;
    j["program"] = "loopcheck";
    j["version"] = LOOPCABLE_VERSION;
    j["status"] = std::string(check_status_of(v.status).json);
    j["exit_status"] = verdict_exit_code(v);
    j["message"] = v.message;
    j["host_api"] = r.host_api;
    // The index is PortAudio's: null on the stream straight on JACK.
    const auto index = [](int i) { return i >= 0 ? nlohmann::ordered_json(i) : nlohmann::ordered_json(nullptr); };
    j["device"] = {{"output", {{"index", index(r.out_device)}, {"name", r.out_name}}},
                   {"input", {{"index", index(r.in_device)}, {"name", r.in_name}}}};
    j["rate"] = r.rate;
    j["buffer"] = {{"requested", nullable_buffer(r.options.buffer)}, {"granted", nullable_buffer(r.buffer_granted)}};
    const bool many = r.options.out_channels.size() > 1;
    j["channels"] = many ? json{{"output", r.options.out_channels}, {"input", r.options.in_channels}}
                         : json{{"output", r.options.out_channel}, {"input", r.options.in_channel}};
    j["level_dbfs"] = r.options.level_dbfs;
    const bool known = outcome_reported_known(r);
    auto known_or_null = [known](double v) { return known ? json(v) : json(nullptr); };
    j["reported_latency"] = {{"input_frames", known_or_null(r.input_latency_frames)},
                             {"output_frames", known_or_null(r.output_latency_frames)},
                             {"frames", known_or_null(outcome_reported_frames(r))}};
    const auto runs_json = [&](std::span<const run_report> list) {
        json runs = json::array();
        for (const run_report& x : list) {
            const run_result& v = x.result;
            runs.push_back(
                {{"latency_frames", v.latency},
                 {"latency_uncertainty_frames", v.latency_uncertainty},
                 {"latency_halves_frames", {v.latency_low_half, v.latency_high_half}},
                 {"latency_ms", 1000.0 * v.latency / r.rate},
                 {"group_delay_frames", v.group_delay},
                 {"group_delay_1khz_frames", v.group_delay_1khz},
                 {"group_delay_1khz_sd_frames",
                  v.group_delay_1khz_sd >= 0.0 ? json(v.group_delay_1khz_sd) : json(nullptr)},
                 {"peak", {{"position", v.peak}, {"value", v.peak_value}}},
                 {"gain_db", v.gain_db},
                 {"polarity", v.inverted ? "inverted" : "normal"},
                 {"snr_db", v.snr_db},
                 {"next_peak",
                  v.has_next ? json{{"offset_frames", v.next_offset}, {"level_db", v.next_level_db}} : json(nullptr)},
                 {"excess_frames", known_or_null(v.latency - outcome_reported_frames(r))},
                 {"sweep_frames", x.sweep_frames},
                 {"lengthened", x.lengthened},
                 {"attempts", x.attempts},
                 {"dropouts", x.dropouts}});
        }
        return runs;
    };
    const auto summary_json = [&](std::span<const run_report> list) {
        if (list.empty())
            return json(nullptr);
        const run_statistics s = runs_statistics(list);
        return json{{"runs", list.size()},
                    {"mean_frames", s.mean},
                    {"latency_uncertainty_frames", s.uncertainty},
                    {"mean_ms", 1000.0 * s.mean / r.rate},
                    {"min_frames", s.min},
                    {"max_frames", s.max},
                    {"sd_frames", s.sd},
                    {"gain_db", s.gain_db},
                    {"excess_frames", known_or_null(s.mean - outcome_reported_frames(r))}};
    };
    j["runs"] = runs_json(r.runs);
    j["summary"] = summary_json(r.runs);
    // With several loops, every loop's latency; the runs and summary above are the first loop's.
    if (many) {
        json loops = json::array();
        loops.push_back({{"loop", 1},
                         {"output", r.options.out_channels[0]},
                         {"input", r.options.in_channels[0]},
                         {"summary", summary_json(r.runs)},
                         {"runs", runs_json(r.runs)}});
        for (size_t k = 0; k < r.loops.size(); k++)
            loops.push_back({{"loop", k + 2},
                             {"output", r.loops[k].out_channel},
                             {"input", r.loops[k].in_channel},
                             {"summary", summary_json(r.loops[k].runs)},
                             {"runs", runs_json(r.loops[k].runs)}});
        j["loops"] = loops;
    }
    j["expect"] = r.options.expect ? json{{"frames", r.options.expect_frames},
                                          {"tolerance", r.options.expect_tolerance},
                                          {"pass", v.expect_pass.value_or(false)}}
                                   : json(nullptr);
    j["response"] = r.has_response
                        ? json{{"file", r.options.response_file},
                               {"valid", r.response_valid},
                               {"flatness_db", r.response.flatness_db},
                               {"flatness_band_hz", {r.response.band_low_hz, r.response.band_high_hz}},
                               {"minus3db_hz",
                                {r.response.minus3_low_hz < 0 ? json(nullptr) : json(r.response.minus3_low_hz),
                                 r.response.minus3_high_hz < 0 ? json(nullptr) : json(r.response.minus3_high_hz)}}}
                        : json(nullptr);
    const auto has = [&v](check_finding f) { return verdict_has(v, f); };
    j["flags"] = {{"input_is_monitor", has(check_finding::input_is_monitor)},
                  {"clipping", has(check_finding::clipping)},
                  {"near_clipping", has(check_finding::near_clipping)},
                  {"weak_signal", has(check_finding::weak_signal)},
                  {"inverted", has(check_finding::inverted)},
                  {"echo", has(check_finding::echo)},
                  {"retried", has(check_finding::retried)}};
    json not_run = json::array();
    for (const check_not_run& n : v.not_run)
        not_run.push_back({{"mode", n.mode}, {"reason", n.reason}});
    j["not_run"] = not_run;
    if (r.options.quality) {
        j["quality"] = quality_report_json(r.quality, r.options.out_channels, r.options.in_channels);
        j["limits"] = quality_report_limits_json(r.quality);
    }
    if (r.sweep.on)
        sweep_report_json(r, j);
    // Names with any bytes: invalid UTF-8 is replaced, never a throw.
    return j.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}
