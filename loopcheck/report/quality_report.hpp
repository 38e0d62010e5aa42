// What --quality found, as text and JSON.
#pragma once
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "analysis/quality_outcome.hpp"

// The battery's warnings: segments played again after a dropout.
std::string quality_report_warnings(const quality_outcome& q);
// The text: a block per loop, every figure with its conditions; the crosstalk,
// the match and the verdicts after them. out and in: the loops' channels, from 1.
std::string quality_report_text(const quality_outcome& q, const std::vector<int64_t>& out,
                                const std::vector<int64_t>& in);

// The JSON under "quality": the figures under channels[k] by the names the
// documentation gives, null with a "<name>_reason" beside where not taken.
nlohmann::ordered_json quality_report_json(const quality_outcome& q, const std::vector<int64_t>& out,
                                           const std::vector<int64_t>& in);

// The JSON's "limits": {figure, value, min, max, pass} per limit.
nlohmann::ordered_json quality_report_limits_json(const quality_outcome& q);
