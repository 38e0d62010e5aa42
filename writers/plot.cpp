// The plot's mapping, its checks and the picture's order of drawing.
#include "writers/plot.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "writers/plot_parts.hpp"

namespace {

constexpr double margin_left = 64.0, margin_right = 16.0, margin_top = 36.0, margin_bottom = 48.0;
constexpr double no_pixel = std::numeric_limits<double>::quiet_NaN();

bool axis_valid(const plot_axis& a)
{
    if (!std::isfinite(a.max - a.min) || !(a.max > a.min))
        return false;
    return a.scale == plot_scale::linear || a.min > 0.0;
}

}  // namespace

plot_frame plot_area(const plot& p)
{
    return {margin_left, margin_top, p.width - margin_left - margin_right, p.height - margin_top - margin_bottom};
}

double plot_map_x(const plot_axis& axis, const plot_frame& area, double x)
{
    if (!std::isfinite(x))
        return no_pixel;
    if (axis.scale == plot_scale::log) {
        if (!(x > 0.0))
            return no_pixel;
        return area.left + std::log10(x / axis.min) / std::log10(axis.max / axis.min) * area.width;
    }
    return area.left + (x - axis.min) / (axis.max - axis.min) * area.width;
}

double plot_map_y(const plot_axis& axis, const plot_frame& area, double y)
{
    if (!std::isfinite(y))
        return no_pixel;
    return area.top + (axis.max - y) / (axis.max - axis.min) * area.height;
}

std::string plot_check(const plot& p)
{
    if (!std::isfinite(p.width) || !std::isfinite(p.height) || p.width < 160.0 || p.height < 120.0)
        return "the plot needs at least 160 x 120 pixels";
    if (!axis_valid(p.x))
        return "the x axis has no range it can show";
    if (!axis_valid(p.y))
        return "the y axis has no range it can show";
    if (p.y.scale == plot_scale::log)
        return "the y axis is linear only";
    return "";
}

std::string plot_svg(const plot& p)
{
    std::string out;
    const std::string problem = plot_check(p);
    plot p_sized;
    p_sized.width = problem.empty() ? p.width : 400.0;
    p_sized.height = problem.empty() ? p.height : 240.0;
    const plot_frame a = plot_area(p_sized);
    svg_begin(out, p_sized.width, p_sized.height);
    svg_rect(out, 0.0, 0.0, p_sized.width, p_sized.height, "#ffffff");
    svg_text(out, a.left + a.width / 2.0, 20.0, p.title, "middle", 14.0);
    if (!problem.empty()) {
        svg_text(out, a.left + a.width / 2.0, a.top + a.height / 2.0, problem, "middle");
    } else {
        plot_draw_bands(out, p, a);
        plot_draw_x_grid(out, p, a);
        plot_draw_y_grid(out, p, a);
        // The data in a viewport of the area's size: it clips whatever lies outside.
        out += "<svg x=\"" + svg_number(a.left) + "\" y=\"" + svg_number(a.top) + "\" width=\"" + svg_number(a.width) +
               "\" height=\"" + svg_number(a.height) + "\" viewBox=\"" + svg_number(a.left) + ' ' + svg_number(a.top) +
               ' ' + svg_number(a.width) + ' ' + svg_number(a.height) + "\" overflow=\"hidden\">\n";
        plot_draw_bars(out, p, a);
        for (const plot_series& s : p.series)
            plot_draw_series(out, p, a, s);
        out += "</svg>\n";
        plot_draw_vlines(out, p, a);
        plot_draw_points(out, p, a);
        plot_draw_legend(out, p, a);
        svg_text(out, a.left + a.width / 2.0, p.height - 8.0, p.x.name, "middle");
        svg_text(out, 16.0, a.top + a.height / 2.0, p.y.name, "middle", 12.0, "#222222", -90.0);
    }
    svg_frame(out, a.left - 0.5, a.top - 0.5, a.width + 1.0, a.height + 1.0, {plot_frame_colour, 1.0, ""});
    svg_end(out);
    return out;
}
