// The SVG elements and their escaping.
#include "writers/svg.hpp"

#include <charconv>
#include <cmath>

std::string svg_escape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default:
            // XML 1.0 has no way to write these, not even as references.
            if (u < 0x20 && c != '\t' && c != '\n' && c != '\r')
                break;
            out += c;
        }
    }
    return out;
}

std::string svg_number(double value, int decimals)
{
    if (!std::isfinite(value))
        return "0";
    char buffer[64];
    // to_chars: the same point in every locale, unlike printf.
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (error != std::errc())
        return "0";
    std::string text(buffer, end);
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0')
            text.pop_back();
        if (text.back() == '.')
            text.pop_back();
    }
    if (text == "-0")
        text = "0";
    return text;
}

void svg_begin(std::string& out, double width, double height)
{
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + svg_number(width) + "\" height=\"" +
           svg_number(height) + "\" viewBox=\"0 0 " + svg_number(width) + ' ' + svg_number(height) +
           "\" font-family=\"sans-serif\">\n";
}

void svg_end(std::string& out) { out += "</svg>\n"; }

namespace {

void stroke_attributes(std::string& out, const svg_stroke& stroke)
{
    out += " stroke=\"" + svg_escape(stroke.colour) + "\" stroke-width=\"" + svg_number(stroke.width) + '"';
    if (!stroke.dash.empty())
        out += " stroke-dasharray=\"" + svg_escape(stroke.dash) + '"';
}

}  // namespace

void svg_line(std::string& out, double x1, double y1, double x2, double y2, const svg_stroke& stroke)
{
    out += "<line x1=\"" + svg_number(x1) + "\" y1=\"" + svg_number(y1) + "\" x2=\"" + svg_number(x2) + "\" y2=\"" +
           svg_number(y2) + '"';
    stroke_attributes(out, stroke);
    out += "/>\n";
}

void svg_rect(std::string& out, double x, double y, double w, double h, std::string_view fill, double opacity)
{
    out += "<rect x=\"" + svg_number(x) + "\" y=\"" + svg_number(y) + "\" width=\"" + svg_number(w) + "\" height=\"" +
           svg_number(h) + "\" fill=\"" + svg_escape(fill) + '"';
    if (opacity < 1.0)
        out += " fill-opacity=\"" + svg_number(opacity, 3) + '"';
    out += "/>\n";
}

void svg_frame(std::string& out, double x, double y, double w, double h, const svg_stroke& stroke)
{
    out += "<rect x=\"" + svg_number(x) + "\" y=\"" + svg_number(y) + "\" width=\"" + svg_number(w) + "\" height=\"" +
           svg_number(h) + "\" fill=\"none\"";
    stroke_attributes(out, stroke);
    out += "/>\n";
}

void svg_circle(std::string& out, double x, double y, double r, std::string_view fill)
{
    out += "<circle cx=\"" + svg_number(x, 1) + "\" cy=\"" + svg_number(y, 1) + "\" r=\"" + svg_number(r, 1) +
           "\" fill=\"" + svg_escape(fill) + "\"/>\n";
}

void svg_text(std::string& out, double x, double y, std::string_view text, std::string_view anchor, double size,
              std::string_view colour, double rotate)
{
    out += "<text x=\"" + svg_number(x, 1) + "\" y=\"" + svg_number(y, 1) + "\" font-size=\"" + svg_number(size, 1) +
           "\" fill=\"" + svg_escape(colour) + "\" text-anchor=\"" + svg_escape(anchor) + '"';
    if (rotate != 0.0)
        out += " transform=\"rotate(" + svg_number(rotate, 1) + ' ' + svg_number(x, 1) + ' ' + svg_number(y, 1) + ")\"";
    out += '>' + svg_escape(text) + "</text>\n";
}

void svg_polyline(std::string& out, std::span<const double> xy, const svg_stroke& stroke)
{
    if (xy.size() < 4)
        return;
    out += "<polyline fill=\"none\" stroke-linejoin=\"round\"";
    stroke_attributes(out, stroke);
    out += " points=\"";
    for (size_t i = 0; i + 1 < xy.size(); i += 2) {
        if (i > 0)
            out += ' ';
        out += svg_number(xy[i], 1) + ',' + svg_number(xy[i + 1], 1);
    }
    out += "\"/>\n";
}
