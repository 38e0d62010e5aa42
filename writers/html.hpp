// One self-contained HTML page: inline CSS and SVG, no script, and a
// Content-Security-Policy that forbids every load from outside the page, so
// that a report reads the same offline and prints from any browser.
#pragma once
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The page's text so far; html_begin starts it, html_end closes it.
struct html_page {
    std::string text;
};

// &, <, >, " and ' as entities; control characters HTML does not allow dropped.
std::string html_escape(std::string_view text);

void html_begin(html_page& page, std::string_view title);
// level 1 .. 3 (clamped).
void html_heading(html_page& page, int level, std::string_view text);
void html_paragraph(html_page& page, std::string_view text);
// Monospaced lines (a console excerpt, the command that made the report).
void html_pre(html_page& page, std::string_view text);
// A two-column table of names and values.
void html_table(html_page& page, std::span<const std::pair<std::string, std::string>> rows);
// A table of columns: a heading row, then each row's cells (as many as the headings).
void html_grid(html_page& page, std::span<const std::string> head, std::span<const std::vector<std::string>> rows);
// A picture from plot_svg or svg_begin/svg_end, as it is: the caller's SVG is
// trusted to be well-formed (its text escaped by the SVG writer).
void html_svg(html_page& page, std::string_view svg);
void html_end(html_page& page);
