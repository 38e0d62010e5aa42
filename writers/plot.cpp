// The plot's picture: grid, data, frame, labels.
#include "writers/plot.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "writers/polyline.hpp"
#include "writers/ticks.hpp"

namespace {

constexpr double margin_left = 64.0, margin_right = 16.0, margin_top = 36.0, margin_bottom = 48.0;
constexpr double no_pixel = std::numeric_limits<double>::quiet_NaN();
// How far outside the area a coordinate may go: a value of 1e300 would
// otherwise print hundreds of digits. The area clips what lies beyond it;
// a segment to a point this far out keeps its visible part within a
// hundredth of a pixel.
constexpr double reach = 1e5;

bool axis_valid(const plot_axis& a)
{
    if (!std::isfinite(a.max - a.min) || !(a.max > a.min))
        return false;
    return a.scale == plot_scale::linear || a.min > 0.0;
}

double clamp_reach(double v, double start, double length)
{
    return std::clamp(v, start - reach, start + length + reach);
}

// One pixel-wide line through the middle of pixel row or column v, so that it
// covers exactly one row or column instead of two half-tones.
double crisp(double v)
{
    return std::floor(v) + 0.5;
}

void draw_x_grid(std::string& out, const plot& p, const plot_frame& a)
{
    const svg_stroke major{"#dddddd", 1.0, ""}, minor{"#f0f0f0", 1.0, ""};
    const double label_y = a.top + a.height + 16.0;
    if (p.x.scale == plot_scale::log) {
        for (const log_tick& t : ticks_log(p.x.min, p.x.max)) {
            const double x = crisp(plot_map_x(p.x, a, t.value));
            svg_line(out, x, a.top, x, a.top + a.height, t.labelled ? major : minor);
            if (t.labelled)
                svg_text(out, x, label_y, p.x.units == plot_units::hz ? ticks_label_hz(t.value) : ticks_label(t.value, t.value), "middle");
        }
        return;
    }
    const int count = std::max(2, static_cast<int>(a.width / 70.0));
    const double step = ticks_step(p.x.max - p.x.min, count);
    for (const double v : ticks_linear(p.x.min, p.x.max, count)) {
        const double x = crisp(plot_map_x(p.x, a, v));
        svg_line(out, x, a.top, x, a.top + a.height, major);
        svg_text(out, x, label_y, p.x.units == plot_units::hz ? ticks_label_hz(v) : ticks_label(v, step), "middle");
    }
}

void draw_y_grid(std::string& out, const plot& p, const plot_frame& a)
{
    const svg_stroke major{"#dddddd", 1.0, ""};
    const int count = std::max(2, static_cast<int>(a.height / 40.0));
    const double step = ticks_step(p.y.max - p.y.min, count);
    for (const double v : ticks_linear(p.y.min, p.y.max, count)) {
        const double y = crisp(plot_map_y(p.y, a, v));
        svg_line(out, a.left, y, a.left + a.width, y, major);
        svg_text(out, a.left - 6.0, y + 4.0, ticks_label(v, step), "end");
    }
}

void draw_bands(std::string& out, const plot& p, const plot_frame& a)
{
    for (const plot_band& b : p.bands) {
        const double y0 = plot_map_y(p.y, a, b.y0), y1 = plot_map_y(p.y, a, b.y1);
        if (std::isnan(y0) || std::isnan(y1))
            continue;
        const double top = clamp_reach(std::min(y0, y1), a.top, a.height);
        const double bottom = clamp_reach(std::max(y0, y1), a.top, a.height);
        svg_rect(out, a.left, top, a.width, bottom - top, b.colour, b.opacity);
    }
}

void draw_bars(std::string& out, const plot& p, const plot_frame& a)
{
    for (const plot_bars& bars : p.bars) {
        const size_t n = std::min({bars.x0.size(), bars.x1.size(), bars.y.size()});
        const double base = plot_map_y(p.y, a, bars.base);
        for (size_t i = 0; i < n; i++) {
            const double x0 = plot_map_x(p.x, a, bars.x0[i]), x1 = plot_map_x(p.x, a, bars.x1[i]);
            const double y = plot_map_y(p.y, a, bars.y[i]);
            if (std::isnan(x0) || std::isnan(x1) || std::isnan(y) || std::isnan(base))
                continue;
            const double left = clamp_reach(std::min(x0, x1), a.left, a.width);
            const double right = clamp_reach(std::max(x0, x1), a.left, a.width);
            const double top = clamp_reach(std::min(y, base), a.top, a.height);
            const double bottom = clamp_reach(std::max(y, base), a.top, a.height);
            svg_rect(out, left, top, right - left, bottom - top, bars.colour);
        }
    }
}

// Ends the run in xy as one polyline (decimated), leaving it empty.
void flush_run(std::string& out, std::vector<double>& xy, std::vector<double>& scratch, const svg_stroke& stroke)
{
    scratch.clear();
    polyline_decimate(xy, scratch);
    svg_polyline(out, scratch, stroke);
    xy.clear();
}

void draw_series(std::string& out, const plot& p, const plot_frame& a, const plot_series& s)
{
    const size_t n = std::min(s.x.size(), s.y.size());
    std::vector<double> run, scratch;
    bool run_weak = false;
    bool previous_ok = false, previous_weak = false;
    for (size_t i = 0; i < n; i++) {
        const double x = plot_map_x(p.x, a, s.x[i]), y = plot_map_y(p.y, a, s.y[i]);
        if (std::isnan(x) || std::isnan(y)) {
            flush_run(out, run, scratch, run_weak ? s.weak_stroke : s.stroke);
            previous_ok = false;
            continue;
        }
        const double px = clamp_reach(x, a.left, a.width), py = clamp_reach(y, a.top, a.height);
        const bool weak = i < s.weak.size() && s.weak[i] != 0;
        if (previous_ok) {
            const bool segment_weak = weak || previous_weak;
            if (segment_weak != run_weak && run.size() >= 4) {
                // The new stretch starts where the last one ended, without a gap.
                const double last_x = run[run.size() - 2], last_y = run.back();
                flush_run(out, run, scratch, run_weak ? s.weak_stroke : s.stroke);
                run = {last_x, last_y};
            }
            run_weak = segment_weak;
        }
        run.push_back(px);
        run.push_back(py);
        previous_ok = true;
        previous_weak = weak;
    }
    flush_run(out, run, scratch, run_weak ? s.weak_stroke : s.stroke);
}

void draw_vlines(std::string& out, const plot& p, const plot_frame& a)
{
    int k = 0;
    for (const plot_vline& v : p.vlines) {
        const double at = plot_map_x(p.x, a, v.x);
        if (std::isnan(at) || at < a.left || at >= a.left + a.width)
            continue;
        // In column floor(at), as the mapping promises, not smeared over two.
        const double x = crisp(at);
        svg_line(out, x, a.top, x, a.top + a.height, v.stroke);
        // Staggered, so that the labels of nearby lines do not overwrite each other.
        if (!v.label.empty())
            svg_text(out, x + 3.0, a.top + 12.0 + 13.0 * (k++ % 3), v.label, "start", 11.0, v.stroke.colour);
    }
}

void draw_points(std::string& out, const plot& p, const plot_frame& a)
{
    for (const plot_points& pts : p.points) {
        const size_t n = std::min(pts.x.size(), pts.y.size());
        for (size_t i = 0; i < n; i++) {
            const double x = plot_map_x(p.x, a, pts.x[i]), y = plot_map_y(p.y, a, pts.y[i]);
            if (std::isnan(x) || std::isnan(y) || x < a.left || x > a.left + a.width || y < a.top ||
                y > a.top + a.height)
                continue;
            svg_circle(out, x, y, pts.radius, pts.colour);
        }
    }
}

void draw_legend(std::string& out, const plot& p, const plot_frame& a)
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
        draw_bands(out, p, a);
        draw_x_grid(out, p, a);
        draw_y_grid(out, p, a);
        // The data in a viewport of the area's size: it clips whatever lies outside.
        out += "<svg x=\"" + svg_number(a.left) + "\" y=\"" + svg_number(a.top) + "\" width=\"" + svg_number(a.width) +
               "\" height=\"" + svg_number(a.height) + "\" viewBox=\"" + svg_number(a.left) + ' ' + svg_number(a.top) +
               ' ' + svg_number(a.width) + ' ' + svg_number(a.height) + "\" overflow=\"hidden\">\n";
        draw_bars(out, p, a);
        for (const plot_series& s : p.series)
            draw_series(out, p, a, s);
        out += "</svg>\n";
        draw_vlines(out, p, a);
        draw_points(out, p, a);
        draw_legend(out, p, a);
        svg_text(out, a.left + a.width / 2.0, p.height - 8.0, p.x.name, "middle");
        svg_text(out, 16.0, a.top + a.height / 2.0, p.y.name, "middle", 12.0, "#222222", -90.0);
    }
    svg_frame(out, a.left - 0.5, a.top - 0.5, a.width + 1.0, a.height + 1.0, {plot_frame_colour, 1.0, ""});
    svg_end(out);
    return out;
}
