// A plot as one SVG picture, over plain data: a linear or log x axis, a linear
// y axis, series as polylines, shaded bands, marker lines, points and bars.
//
// Data to pixels (SVG user units = CSS pixels; pixel column i covers [i, i+1)):
// the plotting area is plot_area(p): left = 64, top = 36, width = p.width - 80,
// height = p.height - 84. Then
//   linear x:  px = left + (x - x.min) / (x.max - x.min) * width
//   log x:     px = left + log10(x / x.min) / log10(x.max / x.min) * width
//   y:         py = top + (y.max - y) / (y.max - y.min) * height
// so a value lands in pixel column floor(px) and row floor(py). The frame
// around the area is 1 px of frame_colour just outside it: column left - 1 and
// left + width, rows top - 1 and top + height. Nothing of the data is drawn
// outside the area.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "writers/svg.hpp"

enum class plot_scale { linear, log };
// hz: tick labels 20, 500, 1k, 20k.
enum class plot_units { plain, hz };

struct plot_axis {
    double min = 0.0, max = 1.0;
    plot_scale scale = plot_scale::linear;
    plot_units units = plot_units::plain;
    std::string name;
};

// A curve. Points with a non-finite coordinate (or x <= 0 on a log axis) are
// skipped and break the line. A segment with a weak end (weak[i] != 0; weak
// may be empty) is drawn with weak_stroke: the low-SNR stretches of a response.
struct plot_series {
    std::span<const double> x, y;
    svg_stroke stroke;
    std::string label;  // in the legend; none when empty
    std::span<const uint8_t> weak;
    svg_stroke weak_stroke{"#999999", 1.5, "4 3"};
};

// A shaded horizontal band from y0 to y1 across the whole area (a tolerance).
struct plot_band {
    double y0, y1;
    std::string colour = "#2ca02c";
    double opacity = 0.15;
};

// A vertical line at x with its label near the top (latency, an echo, a
// harmonic); a 1 px line fills exactly pixel column floor(px).
struct plot_vline {
    double x;
    svg_stroke stroke{"#d62728", 1.0, "5 3"};
    std::string label;
};

// Dots at (x[i], y[i]): glitches on a timeline.
struct plot_points {
    std::span<const double> x, y;
    std::string colour = "#d62728";
    double radius = 3.0;
};

// Bars from base up (or down) to y[i], spanning x0[i] .. x1[i]: a histogram.
// A bar whose hatched[i] is not 0 (hatched may be empty) is its outline and
// diagonal lines 6 px apart in the colour, not filled: a bound, the level a
// figure lies below.
struct plot_bars {
    std::span<const double> x0, x1, y;
    std::string colour = "#1f77b4";
    double base = 0.0;
    std::span<const uint8_t> hatched;
};

struct plot {
    double width = 800.0, height = 400.0;
    std::string title;
    plot_axis x, y;
    std::vector<plot_band> bands;
    std::vector<plot_bars> bars;
    std::vector<plot_series> series;
    std::vector<plot_vline> vlines;
    std::vector<plot_points> points;
};

struct plot_frame {
    double left, top, width, height;
};

inline constexpr const char* plot_frame_colour = "#555555";
// Colours for series that read apart on screen and on paper.
inline constexpr const char* plot_colours[] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd", "#8c564b"};

plot_frame plot_area(const plot& p);

// The pixel of a data value as above; NaN for a value the axis cannot show
// (not finite, or not positive on a log axis). Values outside the axis's
// range map outside the area.
double plot_map_x(const plot_axis& axis, const plot_frame& area, double x);
double plot_map_y(const plot_axis& axis, const plot_frame& area, double y);

// "" when the plot can be drawn, else what is wrong with it (an axis range
// that is empty, not finite, or not positive on a log axis; a size too small).
std::string plot_check(const plot& p);

// The SVG picture; for a plot that plot_check rejects, the frame, the title and
// the reason in place of the data.
std::string plot_svg(const plot& p);
