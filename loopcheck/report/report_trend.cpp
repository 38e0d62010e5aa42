// --trend's page: a section per interface, a plot per figure, the response's bands in one.
#include "loopcheck/report/report_trend.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "loopcheck/report/format.hpp"
#include "loopcheck/report/report_html.hpp"
#include "writers/html.hpp"

#ifndef LOOPCABLE_VERSION
#error "LOOPCABLE_VERSION is the project's version, which CMake defines"
#endif

namespace {

constexpr const char* baseline_colour = "#7f7f7f";
constexpr const char* limit_colour = "#9467bd";

// A series' name without its loop ("thd_n_db loop 2" is "thd_n_db"), as the limits name it.
std::string figure_of(const std::string& name)
{
    const size_t loop = name.find(" loop ");
    return loop == std::string::npos ? name : name.substr(0, loop);
}

// The y axis over what the plot shows, a tenth of its span beside (or ±1 where it is flat).
void fit_y(plot_axis& y, const std::vector<double>& values)
{
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (const double v : values)
        if (std::isfinite(v))
            low = std::min(low, v), high = std::max(high, v);
    if (!(high >= low))
        low = 0.0, high = 1.0;
    const double pad = high > low ? 0.1 * (high - low) : 1.0;
    y.min = low - pad, y.max = high + pad;
}

// One figure over the results: its values, the first result's value and the
// tolerance about it (the latest point's), its limits, the regressed points red.
void figure_plot(html_page& page, const trend_series& s, const std::vector<trend_limit>& limits)
{
    report_plot r;
    plot& p = r.p;
    p.width = report_plot_width, p.height = 300.0;
    const size_t n = s.points.size();
    size_t regressed = 0;
    for (size_t i = 0; i < n; i++) {
        r.x.push_back(static_cast<double>(i)), r.y.push_back(s.points[i].value);
        regressed += s.points[i].regressed ? 1 : 0;
    }
    p.title = s.name + " (" + s.unit + ", " +
              (s.better == check_direction::lower    ? "lower"
               : s.better == check_direction::higher ? "higher"
               : s.better == check_direction::closer ? "closer"
                                                     : "none") +
              " is better): " + std::to_string(n) + " results, " + std::to_string(regressed) + " regressed";
    p.x = {-0.5, static_cast<double>(n) - 0.5, plot_scale::linear, plot_units::plain, "result, in time's order"};
    const double first = s.points.front().value, allowed = s.points.back().allowed;
    std::vector<double> shown = r.y;
    shown.push_back(first + allowed), shown.push_back(first - allowed);
    // The limits: a dashed line each, across the plot.
    std::vector<double> lines;
    for (const trend_limit& l : limits)
        if (l.figure == figure_of(s.name))
            for (const std::optional<double>& v : {l.min, l.max})
                if (v)
                    lines.push_back(*v), shown.push_back(*v);
    fit_y(p.y, shown);
    p.y.name = s.unit;
    // The room the first result's tolerance leaves, the worse way only where one way is better.
    p.bands.push_back({s.better == check_direction::higher ? first - allowed : p.y.min,
                       s.better == check_direction::lower ? first + allowed : p.y.max, "#2ca02c", 0.15});
    if (s.better == check_direction::closer)
        p.bands.back().y0 = first - allowed;
    r.more.reserve(2 + 2 * lines.size() + 2);
    r.more.push_back({p.x.min, p.x.max});
    r.more.push_back({first, first});
    p.series.push_back({r.more[0], r.more[1], {baseline_colour, 1.0, "6 3"}, "the first result", {}});
    for (const double v : lines) {
        r.more.push_back({v, v});
        p.series.push_back({r.more[0], r.more.back(), {limit_colour, 1.0, "2 2"}, "limit", {}});
    }
    p.series.push_back({r.x, r.y, {report_curve_colour, 1.5, ""}, s.name, {}});
    r.more.push_back({}), r.more.push_back({});
    std::vector<double>& rx = r.more[r.more.size() - 2];
    std::vector<double>& ry = r.more.back();
    for (size_t i = 0; i < n; i++)
        if (s.points[i].regressed)
            rx.push_back(r.x[i]), ry.push_back(r.y[i]);
    p.points.push_back({r.x, r.y, report_curve_colour, 2.0});
    p.points.push_back({rx, ry, report_trend_regressed_colour, 4.0});
    html_svg(page, plot_svg(p));
}

// The response's bands of one loop: each band's latest change against the
// first result as a bar (red where it regressed), the mask's ± its tolerance as lines.
void bands_plot(html_page& page, const std::vector<const trend_series*>& bands, const std::string& loop)
{
    report_plot r;
    plot& p = r.p;
    p.width = report_plot_width, p.height = 300.0;
    r.more.reserve(7);  // the spans point into them: never reallocated
    r.more.assign(6, {});
    std::vector<double>&x0 = r.more[0], &x1 = r.more[1], &y = r.more[2];
    std::vector<double>&red0 = r.more[3], &red1 = r.more[4], &red = r.more[5];
    std::vector<double> shown{0.0};
    size_t regressed = 0;
    for (const trend_series* s : bands) {
        const trend_point& last = s->points.back();
        const double change = last.value - s->points.front().value;
        (last.regressed ? red0 : x0).push_back(s->low_hz);
        (last.regressed ? red1 : x1).push_back(s->high_hz);
        (last.regressed ? red : y).push_back(change);
        regressed += last.regressed ? 1 : 0;
        // The mask: a step at ± the band's allowed change.
        for (const double hz : {s->low_hz, s->high_hz})
            r.x.push_back(hz), r.y.push_back(last.allowed);
        shown.push_back(change), shown.push_back(last.allowed), shown.push_back(-last.allowed);
    }
    std::vector<double> lower;
    for (const double v : r.y)
        lower.push_back(-v);
    r.more.push_back(lower);
    p.title = "response" + loop + ": each band's change in the latest result against the first (dB), " +
              std::to_string(regressed) + " regressed";
    p.x = {bands.front()->low_hz, bands.back()->high_hz, plot_scale::log, plot_units::hz, "frequency"};
    fit_y(p.y, shown);
    p.y.name = "dB";
    p.bars.push_back({x0, x1, y, report_curve_colour, 0.0, {}});
    p.bars.push_back({red0, red1, red, report_trend_regressed_colour, 0.0, {}});
    p.series.push_back({r.x, r.y, {"#2ca02c", 1.0, "4 2"}, "the mask", {}});
    p.series.push_back({r.x, r.more.back(), {"#2ca02c", 1.0, "4 2"}, "", {}});
    html_svg(page, plot_svg(p));
}

void group_section(html_page& page, const trend_group& g)
{
    html_heading(page, 2, g.key.empty() ? "results without an identity (made before 1.1)" : g.key);
    // The regressions, a row each: the marks the plots make, in words.
    std::vector<std::vector<std::string>> rows;
    for (const trend_series& s : g.series)
        for (const trend_point& p : s.points)
            if (p.regressed)
                rows.push_back({p.time, p.file, s.name, report_figure("%.6g", p.value) + " " + s.unit,
                                report_figure("%.6g", s.points.front().value) + " " + s.unit,
                                report_figure("%.3g", p.allowed) + " " + s.unit});
    html_paragraph(page, std::to_string(g.results) + " results, from " + g.series.front().points.front().time + " to " +
                             g.series.front().points.back().time + "; " + std::to_string(rows.size()) +
                             " figures regressed against the first result.");
    if (!rows.empty()) {
        const std::vector<std::string> head{"time", "file", "regressed", "value", "the first's", "allowed"};
        html_grid(page, head, rows);
    }
    // The figures, then the response's bands by loop.
    std::vector<std::pair<std::string, std::vector<const trend_series*>>> loops;
    for (const trend_series& s : g.series) {
        if (s.high_hz <= 0.0) {
            figure_plot(page, s, g.limits);
            continue;
        }
        const size_t loop = s.name.find(" loop ");
        const std::string suffix = loop == std::string::npos ? "" : s.name.substr(loop);
        auto at = std::find_if(loops.begin(), loops.end(), [&suffix](const auto& l) { return l.first == suffix; });
        if (at == loops.end())
            at = loops.insert(loops.end(), {suffix, {}});
        at->second.push_back(&s);
    }
    for (const auto& [loop, bands] : loops)
        bands_plot(page, bands, loop);
}

}  // namespace

std::string report_trend_html(const std::vector<trend_group>& groups, size_t unread, const std::string& folder,
                              const std::string& date)
{
    html_page page;
    html_begin(page, "loopcheck: trend");
    html_heading(page, 1, "loopcheck: trend");
    size_t results = 0, regressed = 0;
    for (const trend_group& g : groups) {
        results += g.results;
        for (const trend_series& s : g.series)
            for (const trend_point& p : s.points)
                regressed += p.regressed ? 1 : 0;
    }
    html_paragraph(page, std::to_string(results) + " results of " + std::to_string(groups.size()) +
                             (groups.size() == 1 ? " interface" : " interfaces") + " under " + folder + " (" +
                             std::to_string(unread) + " files not loopcheck's JSON); " + std::to_string(regressed) +
                             " figures regressed against their interface's first result. Made " + date +
                             " by loopcheck " + LOOPCABLE_VERSION + ".");
    html_paragraph(page,
                   "Each figure over its interface's results in time's order: the first result's value (grey, "
                   "dashed) and the change its tolerance allows the worse way (green), the --limits of the "
                   "latest result that holds them (purple, dotted), a point that regressed against the first "
                   "in red. The response's bands: each band's change in the latest result, red where it "
                   "regressed, the mask (±its tolerance, widened by the uncertainty) dashed.");
    for (const trend_group& g : groups)
        if (!g.series.empty())
            group_section(page, g);
    html_end(page);
    return page.text;
}
