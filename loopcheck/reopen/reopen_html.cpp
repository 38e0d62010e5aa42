// --reopen's section of the page: each start's round trip with its
// uncertainty against the start's number, the mean and min..max marked, and
// the table of the starts, from the outcome alone.
#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "loopcheck/reopen/reopen.hpp"
#include "loopcheck/report/report_html.hpp"

namespace {

constexpr const char* reopen_range_colour = "#2ca02c";

// A start's row of the table, in words.
std::string reopen_row_words(const reopen_start& s, double rate)
{
    std::string text = s.measured ? report_latency_text(s.latency_frames, s.uncertainty_frames) + " frames (" +
                                        report_figure("%.3f ms", 1000.0 * s.latency_frames / rate) + ")"
                                  : "not measured: " + s.failure;
    if (s.first_heard_frames >= 0)
        text += " · first played to first captured " + std::to_string(s.first_heard_frames) + " frames (" +
                report_figure("%.3f ms", 1000.0 * static_cast<double>(s.first_heard_frames) / rate) + ")";
    else if (!s.first_failure.empty())
        text += " · first sound not heard: " + s.first_failure;
    if (s.open_ms >= 0.0)
        text += " · open to first callback " + report_figure("%.1f ms", s.open_ms);
    return text;
}

}  // namespace

bool reopen_plot(const reopen_outcome& o, report_plot& out)
{
    out.x.clear(), out.y.clear();
    out.more.assign(4, {});  // the bars' x and y (broken between starts), the mean's line's y and x
    const reopen_statistics s = reopen_statistics_of(o.starts);
    if (s.measured == 0)
        return false;
    double widest = 0.0;
    for (size_t i = 0; i < o.starts.size(); i++) {
        const reopen_start& r = o.starts[i];
        if (!r.measured)
            continue;
        const auto n = static_cast<double>(i + 1);
        out.x.push_back(n), out.y.push_back(r.latency_frames);
        out.more[0].insert(out.more[0].end(), {n, n, report_plot_gap});
        out.more[1].insert(out.more[1].end(), {r.latency_frames - r.uncertainty_frames,
                                               r.latency_frames + r.uncertainty_frames, report_plot_gap});
        widest = std::max(widest, r.uncertainty_frames);
    }
    const auto starts = static_cast<double>(o.starts.size());
    out.more[2] = {s.mean, s.mean}, out.more[3] = {0.0, starts + 1.0};
    // The starts' range (a frame at least, where they agree to the frame) and a quarter of it either side.
    const double span = std::max({s.max - s.min, 2.0 * widest, 1.0});
    plot& p = out.p;
    p = plot{};
    p.width = report_plot_width, p.height = 320.0;
    p.title = "Round trip at each start: the bars its uncertainty, the line the mean, the band min to max";
    // Whole starts on the axis: a start either side of the first and the last.
    p.x = {0.0, starts + 1.0, plot_scale::linear, plot_units::plain, "Start"};
    const double centre = 0.5 * (s.min + s.max), half = 0.75 * span + widest;
    p.y = {centre - half, centre + half, plot_scale::linear, plot_units::plain, "Round trip (frames)"};
    p.bands.push_back({s.min, s.max, reopen_range_colour, 0.15});
    plot_series bars;
    bars.x = out.more[0], bars.y = out.more[1];
    bars.stroke = {report_curve_colour, 2.0, ""};
    bars.label = "± uncertainty";
    p.series.push_back(bars);
    plot_series mean;
    mean.x = out.more[3], mean.y = out.more[2];
    mean.stroke = {report_latency_colour, 1.0, "5 3"};
    mean.label = "mean " + report_figure("%.3f", s.mean);
    p.series.push_back(mean);
    plot_points points;
    points.x = out.x, points.y = out.y, points.colour = report_curve_colour, points.radius = 3.5;
    p.points.push_back(points);
    return true;
}

void reopen_html(report_page& report, const reopen_outcome& o, const mode_judgement&, html_part part)
{
    if (part != html_part::sections || !o.end.ran)
        return;
    html_page& page = report.page;
    const double rate = o.facts.rate;
    const reopen_statistics s = reopen_statistics_of(o.starts);
    html_heading(page, 2, "Start to start (--reopen)");
    std::vector<std::pair<std::string, std::string>> rows;
    rows.push_back({"Starts measured", std::to_string(s.measured) + " of " + std::to_string(o.starts.size())});
    if (s.measured > 0) {
        rows.push_back({"Round trip", "mean " + report_figure("%.3f", s.mean) + " frames (" +
                                          report_figure("%.3f ms", 1000.0 * s.mean / rate) + "), min " +
                                          report_figure("%.3f", s.min) + ", max " + report_figure("%.3f", s.max) +
                                          ", sd " + report_figure("%.3f", s.sd)});
        rows.push_back({"Spread", report_figure("%.3f", s.max - s.min) + " frames (" +
                                      report_figure("%.3f ms", 1000.0 * (s.max - s.min) / rate) + "): " +
                                      (s.agree ? "the same at every start within its uncertainty"
                                               : "not the same at every start: a fixed compensation leaves up to "
                                                 "the spread")});
    }
    if (s.heard > 0)
        rows.push_back({"First played to first captured",
                        "mean " + report_figure("%.2f", s.heard_mean) + " frames, min " +
                            report_figure("%.0f", s.heard_min) + ", max " + report_figure("%.0f", s.heard_max) +
                            ", sd " + report_figure("%.2f", s.heard_sd) + " (" + std::to_string(s.heard) + " starts)"});
    html_table(page, rows);
    report_plot plot;
    if (reopen_plot(o, plot))
        html_svg(page, plot_svg(plot.p));
    rows.clear();
    for (size_t i = 0; i < o.starts.size(); i++)
        rows.push_back({"start " + std::to_string(i + 1), reopen_row_words(o.starts[i], rate)});
    html_table(page, rows);
    html_paragraph(page,
                   "Each start is the stream closed and opened again (on JACK and PipeWire a new client: the "
                   "server's device is not restarted). The round trip is the sweeps' with its uncertainty (a bar "
                   "narrower than a pixel does not show); the "
                   "first played to first captured time runs from a click, the start's first sound, to the first "
                   "captured frame that holds it above the noise.");
}
