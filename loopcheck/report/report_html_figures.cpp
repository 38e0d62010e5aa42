// The report's figures: each plot with the words that say what it shows.
#include <cmath>
#include <cstdio>
#include <utility>

#include "loopcheck/report/report_html.hpp"

namespace {

std::string sweep_text(int64_t frames, double rate)
{
    return report_figure("%.2f s", static_cast<double>(frames) / rate);
}

}  // namespace

void report_html_impulse(html_page& page, const check_report& r, const check_verdict& verdict, const std::string&)
{
    report_plot ir;
    if (!report_plot_impulse(r, ir)) {
        if (verdict.status != check_status::ok)
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

void report_html_runs(html_page& page, const check_report& r, const check_verdict&, const std::string&)
{
    if (r.runs.empty())
        return;
    html_heading(page, 2, r.runs.size() > 1 ? "Every run" : "The run");
    report_plot strip;
    if (report_plot_runs(r, strip)) {
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
                            sweep_text(run.sweep_frames, r.rate);
        if (run.attempts > 1)
            value += " · " + std::to_string(run.attempts) + " attempts";
        rows.push_back({"Run " + std::to_string(i + 1), value});
    }
    html_table(page, rows);
}

void report_html_response(html_page& page, const check_report& r, const check_verdict&, const std::string&)
{
    if (r.runs.empty())
        return;
    html_heading(page, 2, "Response");
    report_plot level, phase;
    if (!report_plot_level(r, level) || !report_plot_phase(r, phase)) {
        html_paragraph(page, "No response to show: the last run kept none.");
        return;
    }
    const run_report& last = r.runs.back();
    std::string source = r.has_response ? "From the response sweep (" + sweep_text(last.sweep_frames, r.rate) +
                                              "), as written to " + r.options.response_file + "."
                                        : "From the last run's own sweep (" + sweep_text(last.sweep_frames, r.rate) +
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
