// loopcheck's HTML report: one self-contained page (writers/html) assembled
// from the session's result and its verdict alone. The frame writes the
// verdict and the notes, the conditions of the session and their table, and
// asks each mode for its part of the page where it goes (html_part): its key
// figures after the verdict, its rows of the conditions, its sections
// (docs/internals/reports.md). Here too what every mode's plots share.
#pragma once
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "loopcheck/mode.hpp"
#include "loopcheck/report/format.hpp"
#include "loopcheck/verdict/verdict.hpp"
#include "writers/html.hpp"
#include "writers/plot.hpp"

// The page as the frame builds it: the modes write into page, and add their
// rows of the session's conditions to conditions, which the frame writes as
// one table after their key figures.
struct report_page {
    html_page page;
    std::vector<std::pair<std::string, std::string>> conditions;
};

// The page; date: when it was made, as the page names it.
std::string report_html(const session_result& result, const check_verdict& verdict, const std::string& date);
// Now, as a page names the time it was made: "2026-12-10 13:30:00 UTC".
std::string report_date_now();
// The page to path, dated now (UTC). "" or why not.
std::string report_html_write(const session_result& result, const check_verdict& verdict, const std::string& path);

// A plot with the data its series, points and bands point into, held
// together: the spans point into these vectors, so it is filled in place
// and never copied.
struct report_plot {
    plot p;
    std::vector<double> x, y;
    std::vector<uint8_t> weak;
    // More curves' and points' data: every vector filled before a span points into it.
    std::vector<std::vector<double>> more;
    std::vector<std::vector<uint8_t>> flags;  // bars' hatching, the same way
    report_plot() = default;
    report_plot(const report_plot&) = delete;
    report_plot& operator=(const report_plot&) = delete;
};

inline constexpr double report_plot_width = 900.0;
// A point that breaks a plot's line.
inline constexpr double report_plot_gap = std::numeric_limits<double>::quiet_NaN();
inline constexpr const char* report_curve_colour = "#1f77b4";
inline constexpr const char* report_latency_colour = "#d62728";
inline constexpr const char* report_next_colour = "#ff7f0e";
