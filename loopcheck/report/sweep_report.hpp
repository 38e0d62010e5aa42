// The buffer sweep as a person reads it (a line per size as it is done, the
// table, the smallest safe buffer, what was done to the host's size) and as
// JSON (the rows, the smallest safe buffer, the sweep's settings).
#pragma once
#include <nlohmann/json.hpp>
#include <string>

#include "loopcheck/verdict/check_report.hpp"

struct check_verdict;

// One size's line, as the sweep goes.
std::string sweep_row_text(const sweep_row& row);
// The table, the smallest safe buffer, the host's size and the verdict's message.
std::string sweep_report_text(const check_report& report, const check_verdict& verdict);
// The sweep's keys into the report's JSON object: buffers, smallest_safe_buffer, buffer_sweep.
void sweep_report_json(const check_report& report, nlohmann::ordered_json& j);
