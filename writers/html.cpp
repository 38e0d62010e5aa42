// The page builder.
#include "writers/html.hpp"

#include <algorithm>

#include "writers/svg.hpp"

namespace {

// Fixed line heights in whole pixels, so that a figure starts on a pixel
// boundary and its 1 px lines stay sharp. Print: no page break inside a
// figure or a table, black text.
constexpr std::string_view style = R"(
body { font: 15px/22px sans-serif; color: #222; background: #fff; margin: 24px; max-width: 1000px; }
h1 { font-size: 24px; line-height: 32px; margin: 0 0 16px; }
h2 { font-size: 19px; line-height: 26px; margin: 24px 0 8px; }
h3 { font-size: 16px; line-height: 22px; margin: 16px 0 8px; }
p { margin: 0 0 11px; }
pre { font: 13px/18px monospace; background: #f4f4f4; padding: 8px; overflow-x: auto; }
table { border-collapse: collapse; margin: 0 0 16px; }
td, th { border: 1px solid #ccc; padding: 2px 8px; text-align: left; vertical-align: top; }
th { background: #f4f4f4; font-weight: normal; }
figure { margin: 0 0 16px; }
svg { display: block; max-width: 100%; height: auto; }
@media print { body { margin: 0; color: #000; } figure, table, pre { break-inside: avoid; } }
)";

}  // namespace

std::string html_escape(std::string_view text) { return svg_escape(text); }

void html_begin(html_page& page, std::string_view title)
{
    page.text = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    // Nothing from the network, nor from beside the file: only the page's own
    // styles and embedded data pictures. A browser refuses anything else.
    page.text +=
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
        "style-src 'unsafe-inline'; img-src data:\">\n";
    page.text += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    page.text += "<title>" + html_escape(title) + "</title>\n<style>";
    page.text += style;
    page.text += "</style>\n</head>\n<body>\n";
}

void html_heading(html_page& page, int level, std::string_view text)
{
    const char n = static_cast<char>('0' + std::clamp(level, 1, 3));
    page.text += std::string("<h") + n + '>' + html_escape(text) + "</h" + n + ">\n";
}

void html_paragraph(html_page& page, std::string_view text) { page.text += "<p>" + html_escape(text) + "</p>\n"; }

void html_pre(html_page& page, std::string_view text) { page.text += "<pre>" + html_escape(text) + "</pre>\n"; }

void html_table(html_page& page, std::span<const std::pair<std::string, std::string>> rows)
{
    page.text += "<table>\n";
    for (const auto& [name, value] : rows)
        page.text += "<tr><th>" + html_escape(name) + "</th><td>" + html_escape(value) + "</td></tr>\n";
    page.text += "</table>\n";
}

void html_grid(html_page& page, std::span<const std::string> head, std::span<const std::vector<std::string>> rows)
{
    page.text += "<table>\n<tr>";
    for (const std::string& h : head)
        page.text += "<th>" + html_escape(h) + "</th>";
    page.text += "</tr>\n";
    for (const std::vector<std::string>& row : rows) {
        page.text += "<tr>";
        for (const std::string& cell : row)
            page.text += "<td>" + html_escape(cell) + "</td>";
        page.text += "</tr>\n";
    }
    page.text += "</table>\n";
}

void html_svg(html_page& page, std::string_view svg)
{
    page.text += "<figure>\n";
    page.text += svg;
    page.text += "</figure>\n";
}

void html_end(html_page& page) { page.text += "</body>\n</html>\n"; }
