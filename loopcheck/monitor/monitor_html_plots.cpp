// --monitor's plots: the delay with the glitches on it, the glitch-free stretches.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "loopcheck/monitor/monitor.hpp"
#include "loopcheck/report/report_html.hpp"

namespace {

}  // namespace

double monitor_delay_unit_s(double checked_s)
{
    return checked_s <= 600.0 ? 1.0 : checked_s <= 36000.0 ? 60.0 : 3600.0;
}

bool monitor_plot_delay(const monitor_trace& m, report_plot& out)
{
    if (!m.on || !(m.checked_s > 0.0))
        return false;
    const double unit = monitor_delay_unit_s(m.checked_s);
    out.x.clear(), out.y.clear();
    double low = INFINITY, high = -INFINITY;
    // In time order: an overrun is marked as it happens, a glitch up to 0.2 s after its frame.
    std::vector<double> marks = m.glitches.t;
    std::sort(marks.begin(), marks.end());
    size_t next_mark = 0;
    // Each point in time order; the line breaks where a glitch falls between
    // two, as the delay steps there rather than slides.
    const auto add = [&](double t, double v) {
        bool glitch = false;
        while (next_mark < marks.size() && marks[next_mark] <= t)
            glitch = true, next_mark++;
        if (glitch && !out.x.empty())
            out.x.push_back(report_plot_gap), out.y.push_back(report_plot_gap);
        out.x.push_back(t / unit), out.y.push_back(v);
    };
    for (const series_bucket& b : m.delay.buckets) {
        if (!b.used)
            continue;
        const bool min_first = b.t_min <= b.t_max;
        add(min_first ? b.t_min : b.t_max, min_first ? b.min : b.max);
        add(min_first ? b.t_max : b.t_min, min_first ? b.max : b.min);
        low = std::min(low, b.min), high = std::max(high, b.max);
    }
    if (out.x.empty())
        low = high = m.latency;
    // Room above and below, never less than half a frame either side.
    const double pad = std::max(0.1 * (high - low), 0.5);
    plot& p = out.p;
    p = plot{};
    p.width = report_plot_width, p.height = 300.0;
    p.title = "The loop's delay, glitches in red";
    p.x = {0.0, m.checked_s / unit, plot_scale::linear, plot_units::plain,
           unit == 1.0    ? "Time (s)"
           : unit == 60.0 ? "Time (min)"
                          : "Time (h)"};
    p.y = {low - pad, high + pad, plot_scale::linear, plot_units::plain, "Delay (frames)"};
    plot_series s;
    s.x = out.x, s.y = out.y;
    s.stroke = {report_curve_colour, 1.5, ""};
    s.label = "delay";
    p.series.push_back(s);
    for (const double t : m.glitches.t)
        p.vlines.push_back({t / unit, {report_latency_colour, 1.0, ""}, ""});
    return true;
}

bool monitor_plot_stretches(const monitor_trace& m, report_plot& out)
{
    const series_histogram& h = m.stretches;
    if (!m.on || h.counts.empty())
        return false;
    size_t first = h.counts.size(), last = 0;
    int64_t most = 0;
    for (size_t i = 0; i < h.counts.size(); i++)
        if (h.counts[i] > 0)
            first = std::min(first, i), last = i, most = std::max(most, h.counts[i]);
    if (first > last)
        return false;
    // A bin either side, so that a lone bar stands between two labelled edges.
    first = first > 0 ? first - 1 : 0, last = std::min(last + 1, h.counts.size() - 1);
    out.x.clear(), out.y.clear();
    out.more.assign(1, {});
    for (size_t i = first; i <= last; i++) {
        out.x.push_back(series_histogram_edge(i));
        out.more[0].push_back(series_histogram_edge(i + 1));
        out.y.push_back(static_cast<double>(h.counts[i]));
    }
    plot& p = out.p;
    p = plot{};
    p.width = report_plot_width, p.height = 260.0;
    p.title = "Glitch-free stretches";
    p.x = {series_histogram_edge(first), series_histogram_edge(last + 1), plot_scale::log, plot_units::plain,
           "Length (s)"};
    p.y = {0.0, std::max(1.0, std::ceil(1.15 * static_cast<double>(most))), plot_scale::linear, plot_units::plain,
           "Stretches"};
    plot_bars bars;
    bars.x0 = out.x, bars.x1 = out.more[0], bars.y = out.y;
    bars.colour = report_curve_colour;
    p.bars.push_back(bars);
    return true;
}
