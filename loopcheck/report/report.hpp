// What loopcheck found, as a person reads it and as JSON for scripts: the
// text and JSON renderers, and the one number formatter every renderer uses.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "loopcheck/verdict/check_report.hpp"

// A figure as printf writes it (one number, words around it allowed), but
// never "-0.00": a tiny negative that rounds to zero is written as zero.
std::string report_figure(const char* pattern, double value);

// A count and its noun, one or many: "1 glitch", "3 glitches", "0 xruns".
std::string report_count(int64_t n, const char* one, const char* many);

// The latency and its uncertainty, with as many decimals as the uncertainty
// supports (at most three): "619.000 ± 0.0003", "619.00 ± 0.06", "359.0 ± 0.4".
std::string report_latency_text(double latency, double uncertainty);

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
