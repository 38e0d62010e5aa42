// The latency's part of the page: what a run that found no loop saw, the key
// figures with their conditions, its rows of the session's conditions, and
// its sections: the impulse response, every run, the response.
#include <cmath>
#include <cstdio>
#include <utility>

#include "loopcheck/latency/latency.hpp"
#include "loopcheck/report/clock_words.hpp"
#include "loopcheck/report/report_html.hpp"

namespace {

using rows = std::vector<std::pair<std::string, std::string>>;

std::string sweep_text(int64_t frames, double rate)
{
    return report_figure("%.2f s", static_cast<double>(frames) / rate);
}

// The figures that stand for the whole session, each with what it depends on.
rows key_figures(const latency_outcome& o)
{
    const latency_facts& r = o.measured;
    const stream_facts& f = o.facts;
    const run_statistics s = latency_statistics(o);
    const run_result& last = r.runs.back().result;
    const size_t n = r.runs.size();
    const std::string over = n == 1 ? "one run" : "the mean of " + std::to_string(n) + " runs";
    rows out;
    out.push_back({"Latency", report_latency_text(s.mean, s.uncertainty) +
                                  " frames = " + report_figure("%.3f ms", 1000.0 * s.mean / f.rate) + " — " + over +
                                  ", the band-limited peak of the impulse response, round trip output " +
                                  std::to_string(o.plan.out_channels[0]) + " to input " +
                                  std::to_string(o.plan.in_channels[0]) + " at " + report_figure("%.0f Hz", f.rate) +
                                  ", buffer " + std::to_string(o.buffer_granted)});
    if (n > 1)
        out.push_back({"Spread", "min " + report_figure("%.3f", s.min) + ", max " + report_figure("%.3f", s.max) +
                                     ", sd " + report_figure("%.3f", s.sd) + " frames — runs further apart than " +
                                     report_figure("%.1f", runs_agree_frames) + " frames are unstable"});
    if (stream_reported_known(f))
        out.push_back({"Excess", report_figure("%.3f frames", s.mean - stream_excess_base_frames(f)) +
                                     " — over the latency reported by " + stream_excess_base_name(f) + ", " +
                                     report_figure("%.3f frames", stream_excess_base_frames(f))});
    else
        out.push_back({"Excess", "unknown — the host API's reported latency is not a figure"});
    out.push_back({"Gain", report_figure("%.2f dB", s.gain_db) + " — mean |H| over 500 Hz to 2 kHz at " +
                               report_figure("%.1f dBFS", o.plan.level_dbfs) + " sweep level"});
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
    if (const std::string clock = report_clock_figure(o.clock); !clock.empty())
        out.push_back({report_clock_name, clock});
    return out;
}

// What a run that found no loop saw: its largest tap and how far it stood above the noise.
std::string seen_text(const latency_outcome& o)
{
    const run_result& x = o.measured.seen;
    if (x.loop)
        return "A loop showed at lag " + std::to_string(x.peak) + " frames, beyond the " +
               report_figure("%.3f s", o.plan.max_delay_s) + " of --max-delay.";
    if (x.peak_value == 0.0)
        return "The input was digital silence: every tap of the impulse response is zero.";
    return "The largest tap of the impulse response, at lag " + std::to_string(x.peak) + " frames (value " +
           report_figure("%.3g", x.peak_value) + "), stands " + report_figure("%.1f dB", x.snr_db) +
           " above the response's noise; a loop stands at least " + report_figure("%.0f dB", loop_snr_floor_db) +
           " above it.";
}

// The latency's rows of the session's conditions.
void conditions(rows& out, const latency_outcome& o)
{
    // None where the latency was never asked to run (--reopen and --buffers
    // measure it start by start, size by size, and give their own rows):
    // "Runs 0 of 1 asked" there said a run had been asked for.
    if (!o.end.ran && o.end.reason.empty())
        return;
    const stream_facts& f = o.facts;
    out.push_back({"Buffer", "asked " +
                                 (o.plan.buffer_asked > 0 ? std::to_string(o.plan.buffer_asked) + " frames"
                                                          : std::string("the host's low-latency choice")) +
                                 ", largest seen " + std::to_string(o.buffer_granted) + " frames"});
    if (stream_reported_known(f) && f.rate > 0.0)
        out.push_back({"Reported latency", report_figure("input %.0f", f.input_latency_frames) +
                                               report_figure(" + output %.0f frames", f.output_latency_frames)});
    out.push_back({"Sweep level", report_figure("%.1f dBFS", o.plan.level_dbfs)});
    out.push_back({"Runs", std::to_string(o.measured.runs.size()) + " of " + std::to_string(o.plan.repeat) + " asked"});
    out.push_back({"Longest loop looked for", report_figure("%.3f s", o.plan.max_delay_s)});
}

void impulse_section(html_page& page, const latency_outcome& o)
{
    const latency_facts& r = o.measured;
    report_plot ir;
    if (!latency_plot_impulse(o, ir)) {
        // Not where the latency was never asked to run (--buffers measures it size by size).
        if (o.end.ran || !o.end.reason.empty())
            html_paragraph(page, "No impulse response to show: no run was analysed to its end.");
        return;
    }
    html_heading(page, 2, "Impulse response");
    html_svg(page, plot_svg(ir.p));
    std::string words = "Lags " + std::to_string(r.ir_first) + " to " +
                        std::to_string(r.ir_first + static_cast<int64_t>(r.ir.size()) - 1) + " frames. ";
    if (r.runs.empty()) {
        words += "Red: the largest tap, at " + std::to_string(r.seen.peak) + " frames.";
    } else {
        const run_result& x = r.runs.back().result;
        words += "Red: the latency, " + report_figure("%.3f frames", x.latency) +
                 (r.runs.size() > 1 ? " (last run)" : "") + ".";
        if (x.has_next) {
            const int64_t next = x.peak + x.next_offset;
            const bool within = next >= r.ir_first && next < r.ir_first + static_cast<int64_t>(r.ir.size());
            words += std::string(within ? " Orange: the next peak, " : " The next peak, beyond this excerpt: ") +
                     report_figure("%+.0f frames", static_cast<double>(x.next_offset)) +
                     report_figure(" from the peak at %.1f dB.", x.next_level_db);
        }
    }
    html_paragraph(page, words);
}

void runs_section(html_page& page, const latency_outcome& o)
{
    const latency_facts& r = o.measured;
    const double rate = o.facts.rate;
    if (r.runs.empty())
        return;
    html_heading(page, 2, r.runs.size() > 1 ? "Every run" : "The run");
    report_plot strip;
    if (latency_plot_runs(o, strip)) {
        html_svg(page, plot_svg(strip.p));
        html_paragraph(page, "Red: each run's latency; blue band: the mean's uncertainty.");
    }
    std::vector<std::pair<std::string, std::string>> rows;
    for (size_t i = 0; i < r.runs.size(); i++) {
        const run_report& run = r.runs[i];
        const run_result& x = run.result;
        std::string value = report_figure("%.3f", x.latency) + report_figure(" ± %.4f frames", x.latency_uncertainty) +
                            report_figure(" · gain %.2f dB", x.gain_db) + report_figure(" · SNR %.0f dB", x.snr_db) +
                            " · " + (x.inverted ? "inverted" : "normal") + " · sweep " +
                            sweep_text(run.sweep_frames, rate);
        if (run.attempts > 1)
            value += " · " + std::to_string(run.attempts) + " attempts";
        rows.push_back({"Run " + std::to_string(i + 1), value});
    }
    html_table(page, rows);
}

void response_section(html_page& page, const latency_outcome& o)
{
    const latency_facts& r = o.measured;
    const double rate = o.facts.rate;
    if (r.runs.empty())
        return;
    html_heading(page, 2, "Response");
    report_plot level, phase;
    if (!latency_plot_level(o, level) || !latency_plot_phase(o, phase)) {
        html_paragraph(page, "No response to show: the last run kept none.");
        return;
    }
    const run_report& last = r.runs.back();
    std::string source = r.has_response ? "From the response sweep (" + sweep_text(last.sweep_frames, rate) +
                                              "), as written to " + o.plan.response_file + "."
                                        : "From the last run's own sweep (" + sweep_text(last.sweep_frames, rate) +
                                              "); --response measures it with the 0.85 s sweep, which has more "
                                              "signal at low frequencies.";
    size_t weak = 0, unknown = 0;
    for (const response_row& row : r.response_rows)
        weak += row.snr_db < response_snr_floor_db, unknown += std::isnan(row.snr_db);
    if (unknown > 0)
        source += " The noise was not measured: every stretch is drawn alike.";
    else if (weak > 0)
        source += " Grey, dashed: below " + report_figure("%.0f dB", response_snr_floor_db) + " SNR (" +
                  std::to_string(weak) + " of " + std::to_string(r.response_rows.size()) + " points).";
    source += " Green: ±1 dB and ±0.1 dB.";
    html_svg(page, plot_svg(level.p));
    html_svg(page, plot_svg(phase.p));
    html_paragraph(page, source);
}

}  // namespace

void latency_html(report_page& page, const latency_outcome& o, const mode_judgement&, html_part part)
{
    switch (part) {
    case html_part::verdict:
        if (o.measured.has_seen)
            html_paragraph(page.page, seen_text(o));
        return;
    case html_part::figures:
        if (!o.measured.runs.empty()) {
            html_heading(page.page, 2, "Key figures");
            const rows figures = key_figures(o);
            html_table(page.page, figures);
        }
        return;
    case html_part::conditions: return conditions(page.conditions, o);
    case html_part::sections:
        impulse_section(page.page, o);
        runs_section(page.page, o);
        response_section(page.page, o);
        return;
    }
}
