// The interface's clock against the system's (analysis/clock_rate.hpp) in
// the report's words: a line of text, a JSON object, a check record; shared
// by the modes that give it (a plain run long enough, the monitor).
#pragma once
#include <nlohmann/json.hpp>
#include <string>

#include "analysis/clock_rate.hpp"
#include "loopcheck/outcome/judgement.hpp"

// "clock: 48000.003 Hz on the system's monotonic clock, +0.06 ± 0.41 ppm over
// 10.0 s (1 line, 1000 callbacks timed)\n"; "" when there is no figure.
std::string report_clock_text(const clock_rate& r);
// {rate_hz, ppm, ppm_uncertainty, span_s, segments, points}, or null with no figure.
nlohmann::ordered_json report_clock_json(const clock_rate& r);
// A record (it never fails the run): clock_rate_ppm, its value in ppm, best closest to 0.
void report_clock_check(const clock_rate& r, mode_judgement& j);
// In a row of a table: "+0.06 ± 0.41 ppm"; "too short (under 5 s)" where the
// stream ran less than clock_rate_least_s; otherwise why there is no figure.
std::string report_clock_cell(const clock_rate& r);
// Why there is no figure, in words that do not change with the run's length:
// "too short (under 5 s)", the fit's own reason otherwise; null with a figure.
nlohmann::ordered_json report_clock_reason_json(const clock_rate& r);
// A key figure of the page: "48000.049 Hz, +1.02 ± 11.05 ppm over 10.3 s — ..."
// (what it is and how it was read); "" when there is no figure.
std::string report_clock_figure(const clock_rate& r);
// The key figure's name on the page.
inline constexpr const char* report_clock_name = "Clock against the system's";
