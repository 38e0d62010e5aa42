// Trends across machines: every result under a folder (a lab's collected
// artifacts) grouped by the interface's identity, each figure over time, a
// point that regressed against the group's first result marked. The figures
// and their comparison are the baselines' (baseline.hpp).
#pragma once
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "loopcheck/baseline/baseline.hpp"

struct trend_point {
    std::string time;  // the result's environment.time ("" in one made before it was kept)
    std::string file;
    double value = 0.0;
    double allowed = 0.0;    // the change allowed against the group's first result (baseline_change's)
    bool regressed = false;  // against the group's first result
};

struct trend_series {
    std::string name, unit;
    check_direction better = check_direction::none;
    double low_hz = 0.0, high_hz = 0.0;  // a band of the response's mask; 0 for the other figures
    std::vector<trend_point> points;     // in time's order
};

// A figure's --limits in a group's latest result that holds them (its "limits" key).
struct trend_limit {
    std::string figure;  // the limits' name ("thd_n_db"): a series' name without its loop
    std::optional<double> min, max;
};

struct trend_group {
    std::string key;  // environment.key ("" for results without one)
    size_t results = 0;
    std::vector<trend_series> series;
    std::vector<trend_limit> limits;
};

// A result as the trend reads it: its file and its object.
using trend_result = std::pair<std::string, nlohmann::json>;

// The groups, by key in order, of results (in any order: they are sorted by
// time, then by file name).
std::vector<trend_group> trend_of(std::vector<trend_result> results, const baseline_tolerances& tolerances = {});

// The trend as the JSON gives it.
nlohmann::ordered_json trend_json(const std::vector<trend_group>& groups, size_t unread);

// Every *.json file under folder (its sub-folders too) that is loopcheck's
// JSON: a --json report or --monitor --json's lines (the start line's
// measurement). unread counts the files that were not. "" or why the folder
// cannot be read.
std::string trend_read(const std::string& folder, std::vector<trend_result>& results, size_t& unread);
