// The page's section against --baseline, from the session's changes alone:
// each loop's response by band against the baseline's mask, the latency and
// THD+N as marks beside the room the baseline allows them, and every figure
// in a table.
#pragma once
#include <vector>

#include "loopcheck/baseline/baseline.hpp"
#include "writers/html.hpp"

inline constexpr const char* report_baseline_colour = "#7f7f7f";
inline constexpr const char* report_baseline_regressed_colour = "#d62728";

// Nothing without changes (no --baseline, or one refused).
void report_baseline_html(html_page& page, const std::vector<baseline_change>& changes);
