// The report's words: the verdict with the key figures and their conditions,
// and the session's conditions.
#include <cmath>
#include <cstdio>
#include <utility>

#include "loopcheck/report/report_html.hpp"

#ifndef LOOPCABLE_VERSION
#error "LOOPCABLE_VERSION is the project's version, which CMake defines"
#endif

namespace {

using rows = std::vector<std::pair<std::string, std::string>>;

std::string channel_text(int index, const std::string& name, int64_t channel)
{
    return (index >= 0 ? std::to_string(index) + " " : std::string()) + "\"" + name + "\", channel " +
           std::to_string(channel);
}

// The figures that stand for the whole session, each with what it depends on.
rows key_figures(const check_report& r)
{
    const run_statistics s = outcome_statistics(r);
    const run_result& last = r.runs.back().result;
    const size_t n = r.runs.size();
    const std::string over = n == 1 ? "one run" : "the mean of " + std::to_string(n) + " runs";
    rows out;
    out.push_back({"Latency", report_latency_text(s.mean, s.uncertainty) +
                                  " frames = " + report_figure("%.3f ms", 1000.0 * s.mean / r.rate) + " — " + over +
                                  ", the band-limited peak of the impulse response, round trip output " +
                                  std::to_string(r.options.out_channel) + " to input " +
                                  std::to_string(r.options.in_channel) + " at " + report_figure("%.0f Hz", r.rate) +
                                  ", buffer " + std::to_string(r.buffer_granted)});
    if (n > 1)
        out.push_back({"Spread", "min " + report_figure("%.3f", s.min) + ", max " + report_figure("%.3f", s.max) +
                                     ", sd " + report_figure("%.3f", s.sd) + " frames — runs further apart than " +
                                     report_figure("%.1f", runs_agree_frames) + " frames are unstable"});
    if (outcome_reported_known(r))
        out.push_back({"Excess", report_figure("%.3f frames", s.mean - outcome_reported_frames(r)) +
                                     " — over the latency the host API reports, " +
                                     report_figure("%.3f frames", outcome_reported_frames(r))});
    else
        out.push_back({"Excess", "unknown — the host API's reported latency is not a figure"});
    out.push_back({"Gain", report_figure("%.2f dB", s.gain_db) + " — mean |H| over 500 Hz to 2 kHz at " +
                               report_figure("%.1f dBFS", r.options.level_dbfs) + " sweep level"});
    out.push_back({"Polarity", std::string(last.inverted ? "inverted" : "normal") + " — the sign of the peak"});
    out.push_back({"SNR", report_figure("%.0f dB", last.snr_db) + " — the peak over the impulse response's noise" +
                              (n > 1 ? ", last run" : "")});
    out.push_back({"Group delay at 1 kHz", report_figure("%.3f frames", last.group_delay_1khz) + " — the phase slope" +
                                               (n > 1 ? ", last run" : "")});
    out.push_back({"Next peak", last.has_next ? report_figure("%+.0f frames", static_cast<double>(last.next_offset)) +
                                                    report_figure(" at %.1f dB", last.next_level_db) +
                                                    " — the largest tap outside the main peak's neighbourhood"
                                              : std::string("none outside the main peak's neighbourhood")});
    if (r.has_response)
        out.push_back({"Flatness", "±" + report_figure("%.2f dB", r.response.flatness_db) + " from " +
                                       report_figure("%.0f", r.response.band_low_hz) + " to " +
                                       report_figure("%.0f Hz", r.response.band_high_hz) + " — the 0.85 s sweep" +
                                       (r.response_valid ? "" : "; not valid: the input clipped")});
    return out;
}

// What a run that found no loop saw: its largest tap and how far it stood above the noise.
std::string seen_text(const check_report& r)
{
    const run_result& x = r.seen;
    if (x.loop)
        return "A loop showed at lag " + std::to_string(x.peak) + " frames, beyond the " +
               report_figure("%.3f s", r.options.max_delay_s) + " of --max-delay.";
    if (x.peak_value == 0.0)
        return "The input was digital silence: every tap of the impulse response is zero.";
    return "The largest tap of the impulse response, at lag " + std::to_string(x.peak) + " frames (value " +
           report_figure("%.3g", x.peak_value) + "), stands " + report_figure("%.1f dB", x.snr_db) +
           " above the response's noise; a loop stands at least " + report_figure("%.0f dB", loop_snr_floor_db) +
           " above it.";
}

}  // namespace

void report_html_verdict(html_page& page, const check_report& r, const check_verdict& verdict, const std::string&)
{
    html_heading(page, 1, "loopcheck: " + std::string(check_status_of(verdict.status).text));
    if (!verdict.message.empty())
        html_paragraph(page, verdict.message);
    if (r.has_seen)
        html_paragraph(page, seen_text(r));
    // The warnings and notes as the text report gives them.
    const std::string warnings = report_notes_text(r, verdict);
    if (!warnings.empty())
        html_pre(page, warnings);
    if (r.runs.empty())
        return;
    html_heading(page, 2, "Key figures");
    const rows figures = key_figures(r);
    html_table(page, figures);
}

void report_html_conditions(html_page& page, const check_report& r, const check_verdict&, const std::string& date)
{
    const check_options& o = r.options;
    rows out;
    out.push_back({"Program", "loopcheck " LOOPCABLE_VERSION});
    out.push_back({"Date", date});
    out.push_back({"Host API", r.host_api.empty() ? "none chosen" : r.host_api});
    if (!r.out_name.empty())
        out.push_back({"Output device", channel_text(r.out_device, r.out_name, o.out_channel)});
    if (!r.in_name.empty())
        out.push_back({"Input device", channel_text(r.in_device, r.in_name, o.in_channel)});
    out.push_back({"Rate", r.rate > 0.0 ? report_figure("%.0f Hz", r.rate) : "not opened"});
    out.push_back({"Buffer", "asked " +
                                 (o.buffer > 0 ? std::to_string(o.buffer) + " frames"
                                               : std::string("the host's low-latency choice")) +
                                 ", largest seen " + std::to_string(r.buffer_granted) + " frames"});
    if (outcome_reported_known(r) && r.rate > 0.0)
        out.push_back({"Reported latency", report_figure("input %.0f", r.input_latency_frames) +
                                               report_figure(" + output %.0f frames", r.output_latency_frames)});
    out.push_back({"Sweep level", report_figure("%.1f dBFS", o.level_dbfs)});
    out.push_back({"Runs", std::to_string(r.runs.size()) + " of " + std::to_string(o.repeat) + " asked"});
    out.push_back({"Longest loop looked for", report_figure("%.3f s", o.max_delay_s)});
    html_heading(page, 2, "Conditions");
    html_table(page, out);
}
