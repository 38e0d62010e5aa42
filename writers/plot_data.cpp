// The plot's data: bands, bars, curves, marker lines and points.
#include <algorithm>
#include <cmath>
#include <vector>

#include "writers/plot_parts.hpp"
#include "writers/polyline.hpp"

namespace {

// Ends the run in xy as one polyline (decimated), leaving it empty.
void flush_run(std::string& out, std::vector<double>& xy, std::vector<double>& scratch, const svg_stroke& stroke)
{
    scratch.clear();
    polyline_decimate(xy, scratch);
    svg_polyline(out, scratch, stroke);
    xy.clear();
}

}  // namespace

double plot_reach(double v, double start, double length)
{
    return std::clamp(v, start - plot_reach_pixels, start + length + plot_reach_pixels);
}

void plot_draw_bands(std::string& out, const plot& p, const plot_frame& a)
{
    for (const plot_band& b : p.bands) {
        const double y0 = plot_map_y(p.y, a, b.y0), y1 = plot_map_y(p.y, a, b.y1);
        if (std::isnan(y0) || std::isnan(y1))
            continue;
        const double top = plot_reach(std::min(y0, y1), a.top, a.height);
        const double bottom = plot_reach(std::max(y0, y1), a.top, a.height);
        svg_rect(out, a.left, top, a.width, bottom - top, b.colour, b.opacity);
    }
}

void plot_draw_hatched(std::string& out, double left, double top, double right, double bottom,
                       const std::string& colour)
{
    const svg_stroke stroke{colour, 1.0, ""};
    svg_frame(out, left, top, right - left, bottom - top, stroke);
    // Lines x + y = c ("/" on the screen), 6 px apart, each cut to the bar.
    constexpr double spacing = 6.0;
    for (double c = left + top + spacing; c < right + bottom; c += spacing) {
        const double x0 = std::max(left, c - bottom), x1 = std::min(right, c - top);
        if (x1 > x0)
            svg_line(out, x0, c - x0, x1, c - x1, stroke);
    }
}

void plot_draw_bars(std::string& out, const plot& p, const plot_frame& a)
{
    for (const plot_bars& bars : p.bars) {
        const size_t n = std::min({bars.x0.size(), bars.x1.size(), bars.y.size()});
        const double base = plot_map_y(p.y, a, bars.base);
        for (size_t i = 0; i < n; i++) {
            const double x0 = plot_map_x(p.x, a, bars.x0[i]), x1 = plot_map_x(p.x, a, bars.x1[i]);
            const double y = plot_map_y(p.y, a, bars.y[i]);
            if (std::isnan(x0) || std::isnan(x1) || std::isnan(y) || std::isnan(base))
                continue;
            const double left = plot_reach(std::min(x0, x1), a.left, a.width);
            const double right = plot_reach(std::max(x0, x1), a.left, a.width);
            const double top = plot_reach(std::min(y, base), a.top, a.height);
            const double bottom = plot_reach(std::max(y, base), a.top, a.height);
            if (i < bars.hatched.size() && bars.hatched[i] != 0)
                plot_draw_hatched(out, left, top, right, bottom, bars.colour);
            else
                svg_rect(out, left, top, right - left, bottom - top, bars.colour);
        }
    }
}

void plot_draw_series(std::string& out, const plot& p, const plot_frame& a, const plot_series& s)
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
        const double px = plot_reach(x, a.left, a.width), py = plot_reach(y, a.top, a.height);
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

void plot_draw_vlines(std::string& out, const plot& p, const plot_frame& a)
{
    int k = 0;
    for (const plot_vline& v : p.vlines) {
        const double at = plot_map_x(p.x, a, v.x);
        if (std::isnan(at) || at < a.left || at >= a.left + a.width)
            continue;
        // In column floor(at), as the mapping promises, not smeared over two.
        const double x = plot_crisp(at);
        svg_line(out, x, a.top, x, a.top + a.height, v.stroke);
        // Staggered, so that the labels of nearby lines do not overwrite each other.
        if (!v.label.empty())
            svg_text(out, x + 3.0, a.top + 12.0 + 13.0 * (k++ % 3), v.label, "start", 11.0, v.stroke.colour);
    }
}

void plot_draw_points(std::string& out, const plot& p, const plot_frame& a)
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
