// The latency's words: each run as it is measured, its block of the text
// report (the summary, the warnings, the response, the other loops), -q's
// number, and its keys of the JSON report.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "loopcheck/latency/compensation.hpp"
#include "loopcheck/latency/latency.hpp"
#include "loopcheck/report/clock_words.hpp"
#include "loopcheck/report/format.hpp"
#include "loopcheck/report/report.hpp"

namespace {

using json = nlohmann::ordered_json;

std::string frames_text(double frames) { return report_figure("%.3f", frames); }
std::string ms_text(double frames, double rate) { return report_figure("%.3f", 1000.0 * frames / rate); }

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

// The warnings and notes on the first loop's runs, a line each ("warning: ...", "note: ...").
std::string warnings_text(const latency_outcome& o)
{
    const std::vector<run_report>& runs = o.measured.runs;
    const latency_findings f = latency_findings_of(o);
    std::string text;
    if (f.clipping)
        text += "warning: input clipping (peak " + report_figure("%.2f", 20.0 * std::log10(f.peak)) +
                " dBFS): the latency stands, the response does not\n";
    else if (f.near_clipping)
        text += "note: input above -3 dBFS (peak " + report_figure("%.2f", 20.0 * std::log10(f.peak)) + " dBFS)\n";
    for (size_t i = 0; i < runs.size(); i++) {
        const run_result& x = runs[i].result;
        const std::string run = runs.size() > 1 ? " in run " + std::to_string(i + 1) : "";
        if (x.snr_db < weak_snr_db)
            text += "warning: weak signal" + run + ": SNR " + report_figure("%.0f", x.snr_db) + " dB (below 30 dB)\n";
        if (x.has_next && x.next_level_db > echo_warning_db)
            text += "warning: next peak within 30 dB" + run + ": " +
                    report_figure("%+.0f", static_cast<double>(x.next_offset)) + " frames (" +
                    report_figure("%+.3f", 1000.0 * static_cast<double>(x.next_offset) / o.facts.rate) + " ms) at " +
                    report_figure("%.1f", x.next_level_db) + " dB: an echo or a monitoring path\n";
        for (const std::string& d : runs[i].dropouts)
            text += "warning: run " + std::to_string(i + 1) + " retried after a dropout: " + d + "\n";
    }
    if (f.inverted)
        text += "warning: polarity inverted (the latency stands)\n";
    if (o.facts.input_is_monitor && o.plan.allow_monitor)
        text += "warning: the input is an output's monitor: the inputs of \"" + o.facts.in_name +
                "\" are its monitor ports, so this measures PipeWire's monitor (one quantum), not the "
                "cable; give the card's sink as --out-device and its source as --in-device\n";
    return text;
}

std::string summary_text(const latency_outcome& o)
{
    const std::vector<run_report>& runs = o.measured.runs;
    const stream_facts& f = o.facts;
    const run_statistics s = latency_statistics(o);
    std::string text = "summary: " + std::to_string(runs.size()) + (runs.size() == 1 ? " run" : " runs") +
                       " · latency " + report_latency_text(s.mean, s.uncertainty) + " frames (" +
                       ms_text(s.mean, f.rate) + " ms)";
    if (runs.size() > 1)
        text += ", min " + frames_text(s.min) + ", max " + frames_text(s.max) + ", sd " + frames_text(s.sd) +
                " · gain " + report_figure("%.2f", s.gain_db) + " dB";
    return text + " · " + report_device_text(f) + " (" + f.host_api + ") · " + report_figure("%.0f", f.rate) +
           " Hz · buffer " + std::to_string(o.buffer_granted) +
           (stream_reported_known(f) ? " · reported " + frames_text(stream_excess_base_frames(f)) + " frames by " +
                                           stream_excess_base_name(f) + " · excess " +
                                           frames_text(s.mean - stream_excess_base_frames(f)) + " frames\n"
                                     : std::string(" · reported latency unknown (the host's figure is not one)\n"));
}

// --compensation's lines, where the latency stands.
std::string compensation_text(const latency_outcome& o)
{
    if (!o.plan.compensation || !latency_stands(o))
        return "";
    const compensation_input in = compensation_input_of(o.facts, latency_statistics(o).mean, -1.0);
    std::string text;
    for (const std::string& line : compensation_lines(in))
        text += line;
    return text;
}

std::string response_text(const latency_outcome& o)
{
    const response_summary& r = o.measured.response;
    return "response: " + o.plan.response_file + (o.measured.response_valid ? "" : " (not valid: the input clipped)") +
           " · flat ±" + report_figure("%.2f", r.flatness_db) + " dB from " + report_figure("%.0f", r.band_low_hz) +
           " to " + report_figure("%.0f", r.band_high_hz) + " Hz · -3 dB points " +
           (r.minus3_low_hz < 0 ? std::string("below 12 Hz") : report_figure("%.1f Hz", r.minus3_low_hz)) + ", " +
           (r.minus3_high_hz < 0 ? std::string("none below Nyquist") : report_figure("%.0f Hz", r.minus3_high_hz)) +
           "\n";
}

std::string loops_text(const latency_outcome& o)
{
    std::string text;
    for (size_t k = 0; k < o.measured.loops.size(); k++) {
        const loop_runs& l = o.measured.loops[k];
        if (l.runs.empty())
            continue;
        const run_statistics s = runs_statistics(l.runs);
        text += "loop " + std::to_string(k + 2) + " (out " + std::to_string(l.out_channel) + " → in " +
                std::to_string(l.in_channel) + "): latency " + report_latency_text(s.mean, s.uncertainty) +
                " frames (" + ms_text(s.mean, o.facts.rate) + " ms) · gain " + report_figure("%.2f", s.gain_db) +
                " dB · " + std::to_string(l.runs.size()) + (l.runs.size() == 1 ? " run" : " runs") + "\n";
        text += loop_warnings(l, k);
    }
    return text;
}

json runs_json(std::span<const run_report> list, const stream_facts& f)
{
    const bool known = stream_reported_known(f);
    json runs = json::array();
    for (const run_report& x : list) {
        const run_result& v = x.result;
        runs.push_back(
            {{"latency_frames", v.latency},
             {"latency_uncertainty_frames", v.latency_uncertainty},
             {"latency_halves_frames", {v.latency_low_half, v.latency_high_half}},
             {"latency_ms", 1000.0 * v.latency / f.rate},
             {"group_delay_frames", v.group_delay},
             {"group_delay_1khz_frames", v.group_delay_1khz},
             {"group_delay_1khz_sd_frames", v.group_delay_1khz_sd >= 0.0 ? json(v.group_delay_1khz_sd) : json(nullptr)},
             {"peak", {{"position", v.peak}, {"value", v.peak_value}}},
             {"gain_db", v.gain_db},
             {"polarity", v.inverted ? "inverted" : "normal"},
             {"snr_db", v.snr_db},
             {"next_peak",
              v.has_next ? json{{"offset_frames", v.next_offset}, {"level_db", v.next_level_db}} : json(nullptr)},
             {"excess_frames", known ? json(v.latency - stream_excess_base_frames(f)) : json(nullptr)},
             {"sweep_frames", x.sweep_frames},
             {"lengthened", x.lengthened},
             {"attempts", x.attempts},
             {"dropouts", x.dropouts}});
    }
    return runs;
}

json summary_json(std::span<const run_report> list, const stream_facts& f)
{
    if (list.empty())
        return json(nullptr);
    const run_statistics s = runs_statistics(list);
    const bool known = stream_reported_known(f);
    return json{{"runs", list.size()},
                {"mean_frames", s.mean},
                {"latency_uncertainty_frames", s.uncertainty},
                {"mean_ms", 1000.0 * s.mean / f.rate},
                {"min_frames", s.min},
                {"max_frames", s.max},
                {"sd_frames", s.sd},
                {"gain_db", s.gain_db},
                {"excess_frames", known ? json(s.mean - stream_excess_base_frames(f)) : json(nullptr)}};
}

}  // namespace

std::string latency_run_text(const run_report& run, size_t i, const stream_facts& f)
{
    const run_result& x = run.result;
    std::string text = "run " + std::to_string(i + 1) + ": latency " +
                       report_latency_text(x.latency, x.latency_uncertainty) + " frames (" +
                       ms_text(x.latency, f.rate) + " ms) at " + report_figure("%.0f", f.rate) + " Hz · gain " +
                       report_figure("%.2f", x.gain_db) + " dB · polarity " + (x.inverted ? "inverted" : "normal") +
                       " · SNR " + report_figure("%.0f", x.snr_db) + " dB\n";
    text += "       group delay " + frames_text(x.group_delay) + " frames (at 1 kHz " +
            frames_text(x.group_delay_1khz) +
            (x.group_delay_1khz_sd >= 0.0 ? " ± " + frames_text(x.group_delay_1khz_sd) : std::string()) + ") · peak " +
            std::to_string(x.peak) + " (" + report_figure("%.4f", x.peak_value) + ")";
    if (x.has_next)
        text += " · next peak " + report_figure("%+.0f", static_cast<double>(x.next_offset)) + " frames at " +
                report_figure("%.1f", x.next_level_db) + " dB";
    if (stream_reported_known(f))
        text += " · excess " + frames_text(x.latency - stream_excess_base_frames(f)) + " frames";
    if (run.lengthened)
        text += " · measured again with the long sweep (SNR below 60 dB)";
    return text + "\n";
}

std::string latency_text(const latency_outcome& o, const mode_judgement&, text_part part)
{
    std::string warnings = warnings_text(o);
    if (part == text_part::warnings) {
        for (size_t k = 0; k < o.measured.loops.size(); k++)
            warnings += loop_warnings(o.measured.loops[k], k);
        return warnings;
    }
    return (o.measured.runs.empty() ? "" : summary_text(o) + report_clock_text(o.clock) + compensation_text(o)) +
           warnings + (o.measured.has_response ? response_text(o) : "") + loops_text(o);
}

std::string latency_quiet(const latency_outcome& o, check_status session)
{
    // The number where it is the loop's: measured, and judged no worse than outside a tolerance.
    const bool stands = session == check_status::ok || session == check_status::outside_expected ||
                        session == check_status::outside_limits;
    if (!stands || o.measured.runs.empty())
        return "";
    char text[64];
    std::snprintf(text, sizeof text, "%.3f\n", latency_statistics(o).mean);
    return text;
}

void latency_json(const latency_outcome& o, const mode_judgement&, json& j)
{
    const stream_facts& f = o.facts;
    const latency_plan& p = o.plan;
    const bool known = stream_reported_known(f);
    auto known_or_null = [known](double v) { return known ? json(v) : json(nullptr); };
    j["level_dbfs"] = p.level_dbfs;
    j["reported_latency"] = {{"input_frames", known_or_null(f.input_latency_frames)},
                             {"output_frames", known_or_null(f.output_latency_frames)},
                             {"frames", known_or_null(stream_reported_frames(f))}};
    j["runs"] = runs_json(o.measured.runs, f);
    j["summary"] = summary_json(o.measured.runs, f);
    j["clock_rate"] = report_clock_json(o.clock);
    if (p.compensation && latency_stands(o))
        j["compensation"] = compensation_json(compensation_input_of(f, latency_statistics(o).mean, -1.0));
    // With several loops, every loop's latency; the runs and summary above are the first loop's.
    if (p.out_channels.size() > 1) {
        json loops = json::array();
        loops.push_back({{"loop", 1},
                         {"output", p.out_channels[0]},
                         {"input", p.in_channels[0]},
                         {"summary", summary_json(o.measured.runs, f)},
                         {"runs", runs_json(o.measured.runs, f)}});
        for (size_t k = 0; k < o.measured.loops.size(); k++) {
            const loop_runs& l = o.measured.loops[k];
            loops.push_back({{"loop", k + 2},
                             {"output", l.out_channel},
                             {"input", l.in_channel},
                             {"summary", summary_json(l.runs, f)},
                             {"runs", runs_json(l.runs, f)}});
        }
        j["loops"] = loops;
    }
    j["expect"] =
        p.expect
            ? json{{"frames", p.expect_frames}, {"tolerance", p.expect_tolerance}, {"pass", latency_expect_pass(o)}}
            : json(nullptr);
    const response_summary& r = o.measured.response;
    j["response"] = o.measured.has_response ? json{{"file", p.response_file},
                                                   {"valid", o.measured.response_valid},
                                                   {"flatness_db", r.flatness_db},
                                                   {"flatness_band_hz", {r.band_low_hz, r.band_high_hz}},
                                                   {"minus3db_hz",
                                                    {r.minus3_low_hz < 0 ? json(nullptr) : json(r.minus3_low_hz),
                                                     r.minus3_high_hz < 0 ? json(nullptr) : json(r.minus3_high_hz)}}}
                                            : json(nullptr);
    const latency_findings found = latency_findings_of(o);
    j["flags"] = {{"input_is_monitor", found.input_is_monitor},
                  {"clipping", found.clipping},
                  {"near_clipping", found.near_clipping},
                  {"weak_signal", found.weak_signal},
                  {"inverted", found.inverted},
                  {"echo", found.echo},
                  {"retried", found.retried}};
}
