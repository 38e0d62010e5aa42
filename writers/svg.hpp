// SVG text built into a string the caller owns: escaping, bounded numbers and
// the few elements the plots are made of. Coordinates are SVG user units, one
// to a CSS pixel: pixel column i covers x in [i, i + 1).
#pragma once
#include <span>
#include <string>
#include <string_view>

// How a line is stroked: a colour as CSS writes it ("#1f77b4"), a width in
// pixels, and a dash pattern ("4 3") or empty for a solid line.
struct svg_stroke {
    std::string colour = "#000000";
    double width = 1.0;
    std::string dash;
};

// Text and attribute values made safe for XML: & < > " ' as entities; control
// characters that XML 1.0 does not allow are dropped. Bytes from 0x80 up pass
// through (the page is UTF-8).
std::string svg_escape(std::string_view text);

// value with at most `decimals` digits after the point, trailing zeros and a
// lone point removed, never "-0"; the C locale's point whatever the program's
// locale. Non-finite values give "0": callers skip them before.
std::string svg_number(double value, int decimals = 2);

void svg_begin(std::string& out, double width, double height);
void svg_end(std::string& out);

void svg_line(std::string& out, double x1, double y1, double x2, double y2, const svg_stroke& stroke);
// A filled rectangle; opacity 1 is opaque.
void svg_rect(std::string& out, double x, double y, double w, double h, std::string_view fill, double opacity = 1.0);
// An unfilled rectangle's outline.
void svg_frame(std::string& out, double x, double y, double w, double h, const svg_stroke& stroke);
void svg_circle(std::string& out, double x, double y, double r, std::string_view fill);
// anchor: "start", "middle" or "end"; rotate: degrees about (x, y).
void svg_text(std::string& out, double x, double y, std::string_view text, std::string_view anchor, double size = 12.0,
              std::string_view colour = "#222222", double rotate = 0.0);
// xy holds x0 y0 x1 y1 ...; written with one decimal (a tenth of a pixel).
void svg_polyline(std::string& out, std::span<const double> xy, const svg_stroke& stroke);
