// A loop's runs as measured (each with its retries) and their statistics:
// the mean latency and the uncertainty the headline gives.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "analysis/analyse.hpp"

struct run_report {
    run_result result;
    int attempts = 1;
    std::vector<std::string> dropouts;  // what spoiled the attempts before the one kept
    int64_t sweep_frames = 0;           // the sweep's length
    bool lengthened = false;            // measured again with the long sweep: the short one left it weak
};

struct run_statistics {
    double mean = 0.0, min = 0.0, max = 0.0, sd = 0.0;  // of the latency, frames
    double uncertainty = 0.0;                           // the mean's: the runs' own, or their scatter's
    double gain_db = 0.0;                               // the runs' mean gain (of |H|, in dB)
};

// The runs' mean, spread and gain, and the mean's uncertainty: the runs' own
// (their RMS: a path's delay that depends on frequency does not average
// down) or the scatter's standard error of the mean, whichever is larger.
run_statistics runs_statistics(std::span<const run_report> runs);
