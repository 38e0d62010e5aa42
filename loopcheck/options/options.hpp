// loopcheck's command line.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/quality_limits.hpp"

#include "loopcheck/options/limits_file.hpp"
#include "loopcheck/options/monitor_options.hpp"
#include "loopcheck/options/sweep_options.hpp"

// The most loops one stream carries (--out and --in lists).
inline constexpr int options_max_loops = 8;

struct check_options {
    std::string device, in_device, out_device;  // index or a unique part of the name; "" for the default
    double rate = 0.0;                          // 0: the device's own
    int64_t buffer = 0;                       // the latency asked of the host API, in frames; 0: its low-latency choice
    int64_t out_channel = 1, in_channel = 1;  // 1-based: the first loop's
    std::vector<int64_t> out_channels{1}, in_channels{1};  // every loop's, the k-th of each paired into loop k
    double level_dbfs = -12.0;
    int64_t repeat = 1;
    double max_delay_s = 2.0, settle_s = 0.05;
    bool expect = false;
    double expect_frames = 0.0, expect_tolerance = 0.5;
    bool json = false, quiet = false, allow_monitor = false;
    std::string response_file, ir_file;
    bool quality = false;      // the quality battery after the latency (--quality, or implied by --limits)
    std::string limits_file;   // --limits
    quality_limits limits;     // read from it before anything is measured
    std::string report_file;   // the HTML report, written after any run
    monitor_settings monitor;  // --monitor and its limits
    sweep_settings sweep;      // --buffers: the latency and a soak at each buffer size
};

// What a refused command line says after its reason: where the options are listed.
inline constexpr const char* options_see_help = "Run \"loopcheck --help\" for the options.";

// What follows the command line: the measurement, or the program's end,
// after --help or --version (on standard output, status 0) or a bad option
// (its reason and where the options are listed on standard error, status 2).
enum class options_next { measure, shown, refused };

// Reads the command line into options. Every number is checked here, NaN and
// infinities included, before anything else is touched.
options_next options_parse(int argc, char** argv, check_options& options);
// The same, with a refusal's reason in refusal as well (for --json's object).
options_next options_parse(int argc, char** argv, check_options& options, std::string& refusal);
