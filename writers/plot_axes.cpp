// The plot's grid, tick labels and legend.
#include <algorithm>
#include <cmath>

#include "writers/plot_parts.hpp"
#include "writers/ticks.hpp"

double plot_crisp(double v) { return std::floor(v) + 0.5; }

void plot_draw_x_grid(std::string& out, const plot& p, const plot_frame& a)
{
    const svg_stroke major{"#dddddd", 1.0, ""}, minor{"#f0f0f0", 1.0, ""};
    const double label_y = a.top + a.height + 16.0;
    if (p.x.scale == plot_scale::log) {
        for (const log_tick& t : ticks_log(p.x.min, p.x.max)) {
            const double x = plot_crisp(plot_map_x(p.x, a, t.value));
            svg_line(out, x, a.top, x, a.top + a.height, t.labelled ? major : minor);
            if (t.labelled)
                svg_text(out, x, label_y,
                         p.x.units == plot_units::hz ? ticks_label_hz(t.value) : ticks_label(t.value, t.value),
                         "middle");
        }
        return;
    }
    const int count = std::max(2, static_cast<int>(a.width / 70.0));
    const double step = ticks_step(p.x.max - p.x.min, count);
    for (const double v : ticks_linear(p.x.min, p.x.max, count)) {
        const double x = plot_crisp(plot_map_x(p.x, a, v));
        svg_line(out, x, a.top, x, a.top + a.height, major);
        svg_text(out, x, label_y, p.x.units == plot_units::hz ? ticks_label_hz(v) : ticks_label(v, step), "middle");
    }
}

void plot_draw_y_grid(std::string& out, const plot& p, const plot_frame& a)
{
    const svg_stroke major{"#dddddd", 1.0, ""};
    const int count = std::max(2, static_cast<int>(a.height / 40.0));
    const double step = ticks_step(p.y.max - p.y.min, count);
    for (const double v : ticks_linear(p.y.min, p.y.max, count)) {
        const double y = plot_crisp(plot_map_y(p.y, a, v));
        svg_line(out, a.left, y, a.left + a.width, y, major);
        svg_text(out, a.left - 6.0, y + 4.0, ticks_label(v, step), "end");
    }
}

void plot_draw_legend(std::string& out, const plot& p, const plot_frame& a)
{
    const double right = a.left + a.width;
    double y = a.top + 14.0;
    for (const plot_series& s : p.series) {
        if (s.label.empty())
            continue;
        svg_line(out, right - 28.0, y - 4.0, right - 8.0, y - 4.0, s.stroke);
        svg_text(out, right - 32.0, y, s.label, "end", 11.0);
        y += 15.0;
    }
}
