// The plot's drawing steps, shared by its files (not for the plot's users).
#pragma once
#include <string>

#include "writers/plot.hpp"

// How far outside the area a coordinate may go: a value of 1e300 would
// otherwise print hundreds of digits. The area clips what lies beyond it;
// a segment to a point this far out keeps its visible part within a
// hundredth of a pixel.
inline constexpr double plot_reach_pixels = 1e5;

// v clamped to [start - reach, start + length + reach].
double plot_reach(double v, double start, double length);
// The middle of pixel v: a 1 px line there covers one row or column exactly,
// instead of two half-tones.
double plot_crisp(double v);

// The grid with the ticks' labels, the legend (plot_axes.cpp).
void plot_draw_x_grid(std::string& out, const plot& p, const plot_frame& a);
void plot_draw_y_grid(std::string& out, const plot& p, const plot_frame& a);
void plot_draw_legend(std::string& out, const plot& p, const plot_frame& a);

// The data (plot_data.cpp).
void plot_draw_bands(std::string& out, const plot& p, const plot_frame& a);
void plot_draw_bars(std::string& out, const plot& p, const plot_frame& a);
// A bar from left to right, top to bottom (pixels) as its outline and diagonal lines.
void plot_draw_hatched(std::string& out, double left, double top, double right, double bottom,
                       const std::string& colour);
void plot_draw_series(std::string& out, const plot& p, const plot_frame& a, const plot_series& s);
void plot_draw_vlines(std::string& out, const plot& p, const plot_frame& a);
void plot_draw_points(std::string& out, const plot& p, const plot_frame& a);
