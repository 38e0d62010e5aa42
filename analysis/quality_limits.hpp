// Pass/fail limits for the battery's figures, read from a JSON object such as
//   { "thd_n_db": {"max": -55}, "gain_db": {"min": -0.5, "max": 0.5} }
// and judged over the worst loop.
#pragma once
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/quality_figures.hpp"

// The figures a limits file may name.
inline constexpr const char* quality_limits_keys[] = {
    "thd_n_db",    "thd_db",       "noise_dbfs", "noise_dbfs_a",          "dynamic_range_db_a", "imd_smpte_db",
    "imd_ccif_db", "crosstalk_db", "gain_db",    "response_deviation_db", "latency_frames",     "clock_rate_ppm"};

struct quality_limit {
    std::string figure;
    std::optional<double> min, max;
};

struct quality_limits {
    std::vector<quality_limit> items;  // in the keys' order
    std::string error;                 // why the text could not be read; empty when it could
};

// The limits in text. An unknown figure, a limit other than min and max, a
// value that is not a finite number, a figure with neither or with min above
// max, or text that is not one JSON object: an error naming it. An unknown
// name is followed by the valid ones, the nearest first when one is close
// ("did you mean"); text that is not JSON by the line and column where its
// reading stopped.
quality_limits quality_limits_parse(std::string_view text);

// One figure of a loop: its value, or for a bound ("<", distortion_floor.hpp)
// the level it lies below.
struct quality_figure {
    double value = 0.0;
    bool bound = false;
    quality_figure() = default;
    // Not explicit: a plain value is a measurement (set["gain_db"] = 0.4).
    quality_figure(double v, bool is_bound = false) : value(v), bound(is_bound) {}
};

// One loop's figures by their limits' names; a figure not taken is absent.
using quality_figure_set = std::map<std::string, quality_figure>;

// The set of one loop's battery figures: THD+N and THD of the -1 dBFS tone,
// noise, dynamic range, both IMDs, crosstalk at 997 Hz and gain. The caller
// adds response_deviation_db (the larger of |min| and |max| of the sweep's
// response rows), latency_frames and clock_rate_ppm (the interface's clock
// against the system's, the stream's), which the battery does not take.
quality_figure_set quality_limits_figures(const quality_loop_figures& f);

struct quality_verdict {
    std::string figure;
    std::optional<double> value;  // the worst loop's; empty when no loop has the figure
    bool bound = false;           // value is a bound: the figure lies below it
    std::optional<double> min, max;
    bool pass = false;  // within the limits; a figure not taken fails
};

// Every limit against the loops' figures: the value nearest to breaking (or
// furthest beyond) its limits, over the loops. A bound "< x" meets a max at
// or above x (the figure lies below it) and never a min (it could lie
// anywhere below x): it fails one, as a figure not taken does.
std::vector<quality_verdict> quality_limits_judge(std::span<const quality_limit> limits,
                                                  std::span<const quality_figure_set> loops);
