// The session's checks as the results' renderers (results/: JUnit, LAVA)
// take them: each mode asked with its judgement's checks, or why it did not
// run; the stream's own failures as the session's; the rules of the verdict
// applied (a loop not found, under --skip-if-no-loop, is a skip).
#pragma once
#include <string>
#include <vector>

#include "loopcheck/mode.hpp"
#include "loopcheck/results/results.hpp"
#include "loopcheck/verdict/verdict.hpp"

// The results of a session: suite names the interface; files are those the run wrote.
results_run report_results(const session_result& result, const verdict_rules& rules, const std::string& suite,
                           const std::vector<results_file>& files);

// The interface as a suite's name: `"device" on host API`, with the card behind it where the
// system tells it (`(USB 08bb:2902 serial A1B2C3D4, firmware 0100)`).
std::string report_suite_name(const stream_facts& facts, const identity& id);

// Writes text to path: "" or why not ("--junit: cannot write FILE: why").
std::string report_write_text(const std::string& option, const std::string& path, const std::string& text);
