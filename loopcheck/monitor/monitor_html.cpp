// --monitor's part of the page: first, where a reader of a monitor run looks,
// what the watch found and every glitch listed; among the sections, the
// delay with the glitches on it and the glitch-free stretches.
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "loopcheck/monitor/monitor.hpp"
#include "loopcheck/report/clock_words.hpp"
#include "loopcheck/report/report_html.hpp"

namespace {

using rows = std::vector<std::pair<std::string, std::string>>;

std::string kinds_text(const monitor_trace& m)
{
    std::string kinds;
    for (int k = 0; k < monitor_kinds; k++) {
        // The stimulus found again is no glitch, nor a change followed.
        const int64_t n =
            monitor_kind_is_glitch(static_cast<monitor_kind>(k)) ? m.summary.by_kind[static_cast<size_t>(k)] : 0;
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
    if (s.changes > 0)
        out.push_back(
            {"Changes followed",
             std::to_string(s.changes) + " — of the clocks' rate, the loop's polarity or its level: no glitches"});
    out.push_back({"Followed", report_figure("%.1f s", static_cast<double>(s.frames_checked) / rate) + ", lost " +
                                   report_figure("%.1f s", static_cast<double>(s.frames_lost) / rate) +
                                   (s.locked ? std::string(" — followed at the end")
                                             : std::string(" — not followed at the end: the rest not checked"))});
    out.push_back(
        {"Longest clean stretch", report_figure("%.1f s", static_cast<double>(s.longest_clean_frames) / rate)});
    out.push_back({"False glitches expected",
                   report_figure("%.2g per hour", s.false_per_hour) +
                       " — from the residue's learnt statistics at the threshold used" +
                       (s.learning_restarts > 0 ? ", learnt again " + std::to_string(s.learning_restarts) +
                                                      " × after a disturbance while it was learnt"
                                                : std::string())});
    out.push_back({"Drift", s.aligned ? report_figure("%+.3f ppm", s.drift_ppm) +
                                            (s.drift_ppm_uncertainty >= 0.0
                                                 ? report_figure(" ± %.3f", s.drift_ppm_uncertainty) +
                                                       report_figure(" (95 %%: ± %.3f", s.drift_ppm_interval) +
                                                       report_figure(", from slopes of %.1f s)",
                                                                     static_cast<double>(s.drift_batch_frames) / rate)
                                                 : std::string(" (too short to tell its uncertainty)")) +
                                            " — the drift over the run, " +
                                            report_figure("%.1f", static_cast<double>(s.drift_from) / rate) + " to " +
                                            report_figure("%.1f s", static_cast<double>(s.drift_to) / rate) +
                                            ": the capture's clock re the playback's, from the delay's slope" +
                                            (s.drift_wander_slow ? std::string("; the clocks wander slower than "
                                                                               "the run shows: no long-term rate")
                                                                 : std::string())
                                      : std::string("not measured: the stimulus was never locked")});
    out.push_back({"Delay", report_figure("%.3f", s.delay_start_frames) + " to " +
                                report_figure("%.3f frames", s.delay_end_frames) +
                                " — start to end; the measurement's latency " +
                                report_figure("%.3f frames", m.latency)});
    out.push_back({"Xruns", std::to_string(m.xruns) +
                                " — incidents: calls the host flagged and cycles the callback missed, a missed cycle "
                                "and the call flagged for it once"});
    const int64_t unchecked = s.frames_unchecked + m.overrun_frames;
    if (unchecked > 0)
        out.push_back({"Not checked", std::to_string(unchecked) +
                                          " frames — from each glitch to the stimulus found again, and "
                                          "from a loss to the end"});
    return out;
}

// What an event was, in a few words: "dropped", "polarity +0.50 to -0.50".
std::string event_what(const monitor_event& e)
{
    switch (e.kind) {
    case monitor_kind::rate:
        return report_figure("clock rate %+.3f", e.rate_before_ppm) + report_figure(" to %+.3f ppm", e.rate_after_ppm);
    case monitor_kind::polarity:
    case monitor_kind::level:
        return std::string(monitor_kind_name(e.kind)) + report_figure(" gain %+.4f", e.gain_before) +
               report_figure(" to %+.4f", e.gain_after);
    case monitor_kind::discontinuity:
        return std::string("discontinuity") + report_figure(", level %+.1f dB", e.level_db) +
               (e.learning_restarted ? ", while learning: learnt again" : "");
    default: return monitor_kind_name(e.kind);
    }
}

// Every event listed (the first monitor_trace_listed): its time, kind, size,
// side, whether the host flagged an xrun beside it, and its WAV file.
void event_list(html_page& page, const monitor_trace& m)
{
    if (m.events.empty())
        return;
    const std::string head[] = {"Time (s)", "Frame", "What", "Frames", "Side", "Xrun", "WAV file"};
    std::vector<std::vector<std::string>> table;
    table.reserve(m.events.size());
    for (const monitor_trace_event& x : m.events) {
        const monitor_event& e = x.e;
        const bool glitch = monitor_kind_is_glitch(e.kind);
        const char* side = monitor_side_name(e.side);
        table.push_back({report_figure("%.3f", static_cast<double>(e.frame) / m.rate), std::to_string(e.frame),
                         event_what(e), glitch ? std::to_string(e.frames) : "", side ? side : "",
                         glitch ? (e.xrun_flagged ? "yes" : "no") : "", x.file});
    }
    html_heading(page, 3, "Every glitch, and each change followed");
    html_grid(page, head, table);
    if (m.events_not_listed > 0)
        html_paragraph(page, "The list holds the first " + std::to_string(m.events.size()) + "; " +
                                 std::to_string(m.events_not_listed) + " more were counted, not listed.");
}

}  // namespace

void monitor_html(report_page& report, const monitor_outcome& o, const mode_judgement&, html_part part)
{
    html_page& page = report.page;
    const monitor_trace& m = o.trace;
    if (part == html_part::verdict) {
        // A monitor run's findings first, beside the verdict.
        html_heading(page, 2, "Monitor");
        if (!m.on) {
            html_paragraph(page, "The monitor did not start: it follows a latency measured without fault.");
            return;
        }
        rows figures = monitor_key_figures(m);
        if (const std::string clock = report_clock_figure(o.clock); !clock.empty())
            figures.push_back({report_clock_name, clock});
        html_table(page, figures);
        event_list(page, m);
        return;
    }
    if (part != html_part::sections || !m.on)
        return;
    html_heading(page, 2, "Monitor: the delay and the clean stretches");
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
