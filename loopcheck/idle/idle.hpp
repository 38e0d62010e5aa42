// --idle: the smallest mode, and the worked example of docs/layout.md
// ("Adding a mode"). With every output silent, half a second of each loop's
// input: its RMS and peak level in dBFS, what the input brings of its own
// (hiss, hum, a DC offset) before anything is played into it.
#pragma once
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "loopcheck/mode.hpp"

// Its constants: how long it listens.
inline constexpr double idle_seconds = 0.5;

// Its plan, read from the command line: the loops' channels, for its words.
struct idle_plan {
    std::vector<int64_t> out_channels{1}, in_channels{1};
};

// What it found: each loop's level, over the frames it heard.
struct idle_loop {
    double rms_dbfs = 0.0, peak_dbfs = 0.0;
};
struct idle_outcome {
    mode_end end;
    idle_plan plan;
    double seconds = 0.0;
    std::vector<idle_loop> loops;
};

// Its row of the mode table.
mode_row idle_mode();

// Its run alone, for the tests: the capture on every loop of a running stream.
idle_outcome idle_run(const idle_plan& plan, const mode_prior& prior, mode_run& run);
