// --monitor's section: what the watch found with its conditions, the delay
// with the glitches on it, and the glitch-free stretches.
#include <string>
#include <utility>
#include <vector>

#include "loopcheck/monitor/monitor.hpp"
#include "loopcheck/report/report_html.hpp"

namespace {

using rows = std::vector<std::pair<std::string, std::string>>;

std::string kinds_text(const monitor_trace& m)
{
    std::string kinds;
    for (int k = 0; k < monitor_kinds; k++) {
        // The stimulus found again is no glitch.
        const int64_t n =
            static_cast<monitor_kind>(k) == monitor_kind::found ? 0 : m.summary.by_kind[static_cast<size_t>(k)];
        if (n > 0)
            kinds +=
                (kinds.empty() ? "" : ", ") + std::to_string(n) + " " + monitor_kind_name(static_cast<monitor_kind>(k));
    }
    if (m.overruns > 0)
        kinds += (kinds.empty() ? "" : ", ") + std::to_string(m.overruns) + " monitor overrun";
    return kinds.empty() ? "" : " (" + kinds + ")";
}

rows monitor_key_figures(const monitor_trace& m)
{
    const monitor_summary& s = m.summary;
    const double rate = m.rate;
    const std::string asked =
        m.duration_asked_s > 0.0 ? report_figure("%g s asked", m.duration_asked_s) : std::string("until interrupted");
    rows out;
    out.push_back({"Watched", report_figure("%.1f s", m.checked_s) + ", " + std::to_string(m.frames) + " frames — " +
                                  asked + report_figure(", %.0f Hz", rate)});
    out.push_back({"Glitches", std::to_string(s.events + m.overruns) + kinds_text(m) +
                                   " — each frame compared with the stimulus's prediction; a threshold " +
                                   report_figure("%.1f dB", s.residue_db) + " below the signal"});
    out.push_back(
        {"Longest clean stretch", report_figure("%.1f s", static_cast<double>(s.longest_clean_frames) / rate)});
    out.push_back({"Drift", s.aligned ? report_figure("%+.3f ppm", s.drift_ppm) +
                                            (s.drift_ppm_uncertainty >= 0.0
                                                 ? report_figure(" ± %.3f", s.drift_ppm_uncertainty) +
                                                       report_figure(" (95 %%: ± %.3f", s.drift_ppm_interval) +
                                                       report_figure(", over batches of %.1f s)",
                                                                     static_cast<double>(s.drift_batch_frames) / rate)
                                                 : std::string(" (too short to tell its uncertainty)")) +
                                            " — the capture's clock re the playback's, from the delay's slope"
                                      : std::string("not measured: the stimulus was never locked")});
    out.push_back({"Delay", report_figure("%.3f", s.delay_start_frames) + " to " +
                                report_figure("%.3f frames", s.delay_end_frames) +
                                " — start to end; the measurement's latency " +
                                report_figure("%.3f frames", m.latency)});
    out.push_back({"Xruns", std::to_string(m.xruns) + " — calls the host flagged and cycles the callback missed"});
    const int64_t unchecked = s.frames_unchecked + m.overrun_frames;
    if (unchecked > 0)
        out.push_back(
            {"Not checked", std::to_string(unchecked) + " frames — from each glitch to the stimulus found again"});
    return out;
}

}  // namespace

void monitor_html(report_page& report, const monitor_outcome& o, const mode_judgement&, html_part part)
{
    if (part != html_part::sections)
        return;
    html_page& page = report.page;
    const monitor_trace& m = o.trace;
    html_heading(page, 2, "Monitor");
    if (!m.on) {
        html_paragraph(page, "The monitor did not start: it follows a latency measured without fault.");
        return;
    }
    const rows figures = monitor_key_figures(m);
    html_table(page, figures);
    report_plot delay, stretches;
    if (monitor_plot_delay(m, delay)) {
        html_svg(page, plot_svg(delay.p));
        std::string words = "Blue: the loop's delay as the detector follows it, the lowest and highest of each " +
                            report_figure("%g s", m.delay.span) + " drawn. Red: each glitch at its time.";
        if (m.glitches.count > static_cast<int64_t>(m.glitches.t.size()))
            words += " Only the first " + std::to_string(m.glitches.t.size()) + " of the " +
                     std::to_string(m.glitches.count) + " glitches are drawn.";
        html_paragraph(page, words);
    }
    if (monitor_plot_stretches(m, stretches)) {
        html_svg(page, plot_svg(stretches.p));
        html_paragraph(page,
                       "The stretches from the start to the first glitch, between glitches, and from the last "
                       "to the end, counted in bins of 1, 2 and 5 × 10ⁿ s (every glitch counted, not only those "
                       "drawn; under 10 ms in the first bin).");
    }
}
