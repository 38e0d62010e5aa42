// loopcheck's command line: the parser over the option table (CLI11), which
// checks every option is one, every number of its own is one, finite and in
// its range, and every option that takes a value has one, and hands the
// values on; and the session's own options read from them. Each mode reads
// its own (mode.hpp: read), against its own rows.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "loopcheck/options/option_row.hpp"
#include "loopcheck/options/option_values.hpp"
#include "loopcheck/outcome/exit_protocol.hpp"

// The most loops one stream carries (--out and --in lists).
inline constexpr int options_max_loops = 8;

// What the session takes from the command line: the stream's devices, rate,
// buffer and loops, and what it prints and where.
struct session_options {
    std::string device, in_device, out_device;  // index or a unique part of the name; "" for the default
    double rate = 0.0;                          // 0: the device's own
    int64_t buffer = 0;  // the latency asked of the host API, in frames; 0: its low-latency choice
    std::vector<int64_t> out_channels{1}, in_channels{1};  // every loop's, the k-th of each paired into loop k
    bool json = false, quiet = false;
    std::string report_file;                        // the HTML report, written after any run
    std::string junit_file, lava_file;              // the checks for a CI engine and for LAVA, written after any run
    bool skip_if_no_loop = false;                   // no loop or no such device: status skipped
    std::string save_baseline_file, baseline_file;  // --save-baseline, --baseline
    bool baseline_any = false;                      // compare with a baseline of another interface
    std::string tolerances_file;                    // --tolerances: the baseline's tolerances and response mask
    std::string trend_dir;                          // --trend: the results under it, nothing measured
    exit_protocol protocol = exit_protocol::loopcheck;
};

// What a refused command line says after its reason: where the options are listed.
inline constexpr const char* options_see_help = "Run \"loopcheck --help\" for the options.";

// What follows the command line: the measurement, or the program's end,
// after --help or --version (on standard output, status 0) or a bad option
// (its reason in refusal, for the program to say, status 2).
enum class options_next { measure, shown, refused };

// Reads the command line against the table's rows into values. Every number
// the parser checks is checked here, NaN and infinities included, before
// anything else is touched.
options_next options_parse(int argc, char** argv, std::span<const option_row> rows, option_values& values,
                           std::string& refusal);

// The session's own options from the values: "" or why they are refused.
std::string options_session(const option_values& values, session_options& options);

// The loops' channels (--out and --in): as many of each, whole numbers in
// their rows' range, none twice, at most options_max_loops. "" or why not.
std::string options_loops(const option_values& values, std::vector<int64_t>& out, std::vector<int64_t>& in);
