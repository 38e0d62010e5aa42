// What loopcheck found, as a person reads it and as JSON for scripts: the
// text and JSON renderers, and the one number formatter every renderer uses.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "loopcheck/report/format.hpp"
#include "loopcheck/verdict/check_report.hpp"

struct check_verdict;

// The devices as the summary names them: `device 0 "name"`, or the output's and the input's.
std::string report_device_text(const check_report& report);

// One run's two lines, with its number (i from 0), on the report's stream.
std::string report_run_text(const check_report& report, const run_report& run, size_t i);
// The warnings and notes on the runs, a line each ("warning: ...", "note: ...").
std::string report_warnings_text(const check_report& report, const check_verdict& verdict);
// Every warning and note the text report gives, in its order: the runs'
// the other loops', the battery's, the modes that did not run.
std::string report_notes_text(const check_report& report, const check_verdict& verdict);
// The summary line, the warnings, the modes that did not run and the
// verdict's message (everything after the runs).
std::string report_tail_text(const check_report& report, const check_verdict& verdict);
// The whole report as one JSON object (a line of its own).
std::string report_json(const check_report& report, const check_verdict& verdict);
