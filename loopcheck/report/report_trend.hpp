// --trend's page: per interface, each figure over its results in time's order
// with its first result's tolerance and its --limits, a regression marked; the
// response's bands as their latest change against the first, the mask beside.
#pragma once
#include <string>
#include <vector>

#include "loopcheck/baseline/trend.hpp"

inline constexpr const char* report_trend_regressed_colour = "#d62728";

// The page: folder, the folder read; unread, its files that were not
// loopcheck's JSON; date, when it was made.
std::string report_trend_html(const std::vector<trend_group>& groups, size_t unread, const std::string& folder,
                              const std::string& date);
