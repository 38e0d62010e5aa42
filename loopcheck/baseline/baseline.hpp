// Baselines: a run's figures against a run kept as the reference (a
// golden unit, last week's driver). Both are loopcheck's own JSON objects
// (--json's, which --save-baseline writes), so that any result kept is a
// baseline and the trend reads the same figures. Pure: JSON in, checks out.
#pragma once
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "loopcheck/outcome/judgement.hpp"

// One figure of a result, as a baseline compares it.
struct baseline_figure {
    std::string name;  // "latency_frames", "thd_n_db", "noise_dbfs loop 2"
    double value = 0.0;
    double uncertainty = 0.0;  // its standard uncertainty where the result gives one, else 0
    bool bound = false;        // the figure lies below its value (under its noise): not compared
    std::string unit;
    check_direction better = check_direction::none;
    double tolerance = 0.0;  // the change allowed by default, in its unit
};

// The figures of one of loopcheck's JSON objects: each loop's latency with
// its uncertainty, and the battery's figures per loop (THD+N, THD, noise,
// IMD, crosstalk, gain, dynamic range). Nothing for what the run did not measure.
std::vector<baseline_figure> baseline_figures(const nlohmann::json& report);

// The interface a result was made on (its environment's key; "" in one made before 1.1).
std::string baseline_identity(const nlohmann::json& report);

// A figure's change judged: regressed when it moved the worse way (either
// way for closer) by more than both its tolerance and twice the combined
// standard uncertainty of the two (a difference inside the uncertainty is never flagged).
struct baseline_change {
    std::string name, unit;
    check_direction better = check_direction::none;
    double baseline = 0.0, value = 0.0;
    double allowed = 0.0;  // the larger of the tolerance and twice the combined uncertainty
    bool regressed = false;
};
std::vector<baseline_change> baseline_compare(const std::vector<baseline_figure>& baseline,
                                              const std::vector<baseline_figure>& run);

// The comparison as checks (one per figure both runs have, "regressed: ..."
// words and status regressed where it failed), or the refusal of a baseline
// made on another interface (status error) unless any is set.
std::vector<mode_check> baseline_checks(const nlohmann::json& baseline, const nlohmann::json& run, bool any);

// Reads a baseline: one of loopcheck's JSON objects (a --json report or the
// first line of --monitor --json's, whose measurement it takes). "" or why not.
std::string baseline_read(const std::string& path, nlohmann::json& baseline);
