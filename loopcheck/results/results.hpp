// What a CI engine or a lab's tracker reads of a run: the checks of every
// mode asked, rendered as JUnit XML, LAVA's result lines and the like. The
// renderers take the modes' checks (judgement.hpp: name, value, unit,
// bounds, direction, result, status, words) and whether each mode ran, and
// nothing else: no mode's outcome, no stream.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "loopcheck/outcome/judgement.hpp"

// A file the run wrote, for the engine to attach ("" mode: the session's, the HTML report).
struct results_file {
    std::string mode;
    std::string path;
};

// One mode asked for: its checks, or why it did not run.
struct results_mode {
    std::string name;  // "latency", "quality", "monitor": the checks' class
    bool ran = true;
    std::string reason;  // why it did not run ("" when it ran)
    std::vector<mode_check> checks;
};

struct results_run {
    std::string suite;                                            // the interface as the suite is named: its identity
    std::string hostname;                                         // "" when not known
    std::string timestamp;                                        // ISO 8601, UTC; "" when not known
    std::vector<std::pair<std::string, std::string>> properties;  // the run's facts (version, host API, rate)
    std::vector<results_mode> modes;
    std::vector<results_file> files;
};

// A check's name as a test case's, unique within its mode: the second
// "latency_frames" of a mode is "latency_frames #2".
std::vector<std::string> results_case_names(const results_mode& mode);

// A check's figure in words: "300.021 frames, within 299.5 to 300.5, closer is better".
std::string results_figure_text(const mode_check& check);

// Which way a figure is better, as a word: "lower", "higher", "closer" (to its bounds' middle); "" for none.
const char* results_direction_name(check_direction direction);

// A number as the results carry it: up to 9 significant digits, "." the decimal point.
std::string results_number(double value);

// Text escaped for XML's character data and attribute values, with the
// characters XML 1.0 cannot hold (controls, invalid UTF-8) replaced by U+FFFD.
std::string results_xml_escaped(const std::string& text);

// The run as one JUnit XML document (junit-10.xsd).
std::string results_junit(const results_run& run);

// The run as LAVA's result lines: "NAME pass|fail|skip [MEASUREMENT [UNITS]]", one a check.
std::string results_lava(const results_run& run);
