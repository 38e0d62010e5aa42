// The page against --baseline: the mask, the marks, the table.
#include "loopcheck/report/report_baseline_html.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "loopcheck/report/format.hpp"
#include "loopcheck/report/report_html.hpp"

namespace {

// The room a change leaves about the baseline: both ways for closer, the worse way alone otherwise.
double room_low(const baseline_change& c, double floor)
{
    return c.better == check_direction::lower ? floor : c.baseline - c.allowed;
}
double room_high(const baseline_change& c, double ceiling)
{
    return c.better == check_direction::higher ? ceiling : c.baseline + c.allowed;
}

void fit(plot_axis& y, std::initializer_list<double> values)
{
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (const double v : values)
        if (std::isfinite(v))
            low = std::min(low, v), high = std::max(high, v);
    const double pad = high > low ? 0.15 * (high - low) : 1.0;
    y.min = low - pad, y.max = high + pad;
}

// One loop's response by band: the baseline's band means with the mask about
// them (shaded between two steps), this run's band means as a step, a band
// that regressed red.
void response_plot(html_page& page, const std::vector<const baseline_change*>& bands, const std::string& loop)
{
    report_plot r;
    plot& p = r.p;
    p.width = report_plot_width, p.height = 360.0;
    r.more.reserve(6);  // the spans point into them: never reallocated
    r.more.assign(6, {});
    std::vector<double>&hz = r.more[0], &upper = r.more[1], &lower = r.more[2], &run = r.more[3];
    std::vector<double>&red_hz = r.more[4], &red = r.more[5];
    double low = 0.0, high = 0.0;
    size_t regressed = 0;
    for (const baseline_change* c : bands) {
        for (const double f : {c->low_hz, c->high_hz}) {
            hz.push_back(f), upper.push_back(c->baseline + c->allowed), lower.push_back(c->baseline - c->allowed);
            run.push_back(c->value);
            red_hz.push_back(f), red.push_back(c->regressed ? c->value : report_plot_gap);
        }
        // A gap between bands: each band's step its own.
        hz.push_back(c->high_hz), upper.push_back(report_plot_gap), lower.push_back(report_plot_gap);
        run.push_back(report_plot_gap), red_hz.push_back(c->high_hz), red.push_back(report_plot_gap);
        low = std::min({low, c->value, c->baseline - c->allowed});
        high = std::max({high, c->value, c->baseline + c->allowed});
        regressed += c->regressed ? 1 : 0;
    }
    p.title = "Response" + loop + " by band against the baseline: " + std::to_string(bands.size()) + " bands, " +
              std::to_string(regressed) + " regressed";
    p.x = {bands.front()->low_hz, bands.back()->high_hz, plot_scale::log, plot_units::hz, "frequency"};
    fit(p.y, {low, high});
    p.y.name = "dB re 1 kHz";
    p.series.push_back({hz, upper, {"#2ca02c", 1.0, "4 2"}, "the baseline's mask", {}});
    p.series.push_back({hz, lower, {"#2ca02c", 1.0, "4 2"}, "", {}});
    p.series.push_back({hz, run, {report_curve_colour, 2.0, ""}, "this run, each band's mean", {}});
    p.series.push_back({red_hz, red, {report_baseline_regressed_colour, 3.0, ""}, "regressed", {}});
    html_svg(page, plot_svg(p));
}

// A figure as marks: the baseline's (grey) and this run's (blue, red when it
// regressed), the room the baseline allows shaded.
void mark_plot(html_page& page, const baseline_change& c)
{
    report_plot r;
    plot& p = r.p;
    p.width = report_plot_width / 2.0, p.height = 240.0;
    p.title = c.name + " (" + c.unit + ") against the baseline" + (c.regressed ? ": regressed" : "");
    p.x = {-0.5, 1.5, plot_scale::linear, plot_units::plain, "the baseline, this run"};
    fit(p.y, {c.baseline, c.value, c.baseline - c.allowed, c.baseline + c.allowed});
    p.y.name = c.unit;
    p.bands.push_back({room_low(c, p.y.min), room_high(c, p.y.max), "#2ca02c", 0.15});
    r.more = {{0.0}, {c.baseline}, {1.0}, {c.value}};
    p.points.push_back({r.more[0], r.more[1], report_baseline_colour, 5.0});
    p.points.push_back(
        {r.more[2], r.more[3], c.regressed ? report_baseline_regressed_colour : report_curve_colour, 5.0});
    html_svg(page, plot_svg(p));
}

}  // namespace

void report_baseline_html(html_page& page, const std::vector<baseline_change>& changes)
{
    if (changes.empty())
        return;
    html_heading(page, 2, "Against the baseline");
    html_paragraph(
        page,
        "Each figure against the baseline's: the room its tolerance allows (widened to three times the combined "
        "uncertainty where that is wider) shaded, the worse way alone where one way is better; the "
        "response's mask on each band's mean level. Red: regressed.");
    for (const baseline_change& c : changes)
        if (c.high_hz <= 0.0 && (c.name.starts_with("latency_frames") || c.name.starts_with("thd_n_db")))
            mark_plot(page, c);
    // The response's bands by loop (" loop 2" after the band's name).
    std::vector<std::pair<std::string, std::vector<const baseline_change*>>> loops;
    for (const baseline_change& c : changes) {
        if (c.high_hz <= 0.0)
            continue;
        const size_t at = c.name.find(" loop ");
        const std::string loop = at == std::string::npos ? "" : c.name.substr(at);
        auto l = std::find_if(loops.begin(), loops.end(), [&loop](const auto& x) { return x.first == loop; });
        if (l == loops.end())
            l = loops.insert(loops.end(), {loop, {}});
        l->second.push_back(&c);
    }
    for (const auto& [loop, bands] : loops)
        response_plot(page, bands, loop);
    std::vector<std::vector<std::string>> rows;
    for (const baseline_change& c : changes)
        rows.push_back({c.name, report_figure("%.6g", c.baseline) + " " + c.unit,
                        report_figure("%.6g", c.value) + " " + c.unit, report_figure("%.3g", c.allowed) + " " + c.unit,
                        c.regressed ? "regressed" : "within"});
    const std::vector<std::string> head{"figure", "the baseline", "this run", "allowed", ""};
    html_grid(page, head, rows);
}
