// --buffers' section: the round trip against the buffer size, the sizes that
// glitched marked, and the table.
#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "loopcheck/buffers/buffers.hpp"
#include "loopcheck/report/clock_words.hpp"
#include "loopcheck/report/report_html.hpp"

namespace {

constexpr const char* safe_colour = "#2ca02c";

// A row's figures in words, as the table gives them.
std::string row_words(const buffers_row& row)
{
    if (row.refused)
        return "refused: " + row.reason;
    if (!row.measured)
        return (row.failure == check_status::unstable ? "NOT SAFE: " : "not measured: ") + row.reason;
    std::string text = report_latency_text(row.latency_frames, row.uncertainty_frames) + " frames (" +
                       report_figure("%.3f ms", buffers_row_ms(row)) + ")";
    if (!row.soaked)
        return text + " · " + row.reason;
    if (!row.found)
        return text + " · NOT SAFE: " + row.reason;
    std::string kinds;
    for (int k = 0; k < monitor_kinds; k++) {
        const auto kind = static_cast<monitor_kind>(k);
        const int64_t n = monitor_kind_is_glitch(kind) ? row.by_kind[static_cast<size_t>(k)] : 0;
        if (n > 0)
            kinds += (kinds.empty() ? "" : ", ") + std::to_string(n) + " " + monitor_kind_name(kind);
    }
    return text + " · soak " + report_figure("%.1f s", row.soak_s) + ": " + std::to_string(row.glitches) +
           (row.glitches == 1 ? " glitch" : " glitches") + (kinds.empty() ? "" : " (" + kinds + ")") + ", " +
           std::to_string(row.xruns) + (row.xruns == 1 ? " xrun" : " xruns") + " · clock " +
           report_clock_cell(row.clock) + " · " +
           (!row.judged             ? row.reason
            : buffers_row_safe(row) ? "safe"
                                    : "NOT SAFE");
}

}  // namespace

bool buffers_plot(const buffers_outcome& f, report_plot& out)
{
    out.x.clear(), out.y.clear();
    out.more.assign(4, {});  // safe x, y; not safe x, y
    double most_ms = 0.0, least = INFINITY, largest = 0.0;
    for (const buffers_row& row : f.rows) {
        if (!row.measured || row.granted <= 0)
            continue;
        const auto size = static_cast<double>(row.granted);
        const double ms = buffers_row_ms(row);
        out.x.push_back(size), out.y.push_back(ms);
        const size_t to = buffers_row_safe(row) ? 0 : 2;
        out.more[to].push_back(size), out.more[to + 1].push_back(ms);
        most_ms = std::max(most_ms, ms), least = std::min(least, size), largest = std::max(largest, size);
    }
    if (out.x.empty())
        return false;
    plot& p = out.p;
    p = plot{};
    p.width = report_plot_width, p.height = 320.0;
    p.title = "Round trip against the buffer size: safe sizes green, the others red";
    p.x = {least / 2.0, largest * 2.0, plot_scale::log, plot_units::plain, "Buffer (frames)"};
    p.y = {0.0, std::max(1.0, 1.15 * most_ms), plot_scale::linear, plot_units::plain, "Round trip (ms)"};
    plot_series s;
    s.x = out.x, s.y = out.y;
    s.stroke = {report_curve_colour, 1.5, ""};
    s.label = "round trip";
    p.series.push_back(s);
    plot_points safe, unsafe;
    safe.x = out.more[0], safe.y = out.more[1], safe.colour = safe_colour, safe.radius = 4.0;
    unsafe.x = out.more[2], unsafe.y = out.more[3], unsafe.radius = 4.0;
    p.points.push_back(safe), p.points.push_back(unsafe);
    for (const buffers_row& row : f.rows)
        if (row.measured && row.soaked && !buffers_row_safe(row))
            p.vlines.push_back({static_cast<double>(row.granted),
                                {report_latency_colour, 1.0, "5 3"},
                                row.found ? std::to_string(row.glitches + row.xruns) + " glitches and xruns"
                                          : std::string("not followed")});
    return true;
}

void buffers_html(report_page& report, const buffers_outcome& f, const mode_judgement&, html_part part)
{
    if (part != html_part::sections)
        return;
    html_page& page = report.page;
    html_heading(page, 2, "Buffer sweep");
    std::vector<std::pair<std::string, std::string>> rows;
    const buffers_row* safe = buffers_smallest_safe(f);
    rows.push_back(
        {"Smallest safe buffer",
         safe ? std::to_string(safe->granted) + " frames, round trip " + report_figure("%.3f ms", buffers_row_ms(*safe))
              : std::string("none: no size ran its soak without a glitch or an xrun")});
    rows.push_back(
        {"Soak", report_figure("%g s per size", f.plan.soak_s) +
                     (f.plan.load_percent > 0.0 ? report_figure(" at %g %% load", f.plan.load_percent) : "")});
    if (f.server_wide)
        rows.push_back(
            {"Host's size", f.server + " at " + std::to_string(f.original) + " frames before; " +
                                (f.restored ? "put back after the sweep" : "NOT put back: " + f.restore_problem)});
    html_table(page, rows);
    report_plot plot;
    if (buffers_plot(f, plot))
        html_svg(page, plot_svg(plot.p));
    rows.clear();
    for (const buffers_row& row : f.rows)
        rows.push_back(
            {std::to_string(row.requested) + " frames" +
                 (row.granted > 0 && row.granted != row.requested ? " (granted " + std::to_string(row.granted) + ")"
                                                                  : ""),
             row_words(row)});
    html_table(page, rows);
    html_paragraph(page,
                   "A size is safe when its round trip was measured and its soak ran to its end with no glitch and "
                   "no xrun. Glitches are the monitor's (docs/monitor.md); xruns are the calls the host flagged and "
                   "the cycles the callback missed.");
}
