// What the modes found: the facts the verdict judges and the renderers show,
// and how each mode ended. Data only; nothing here measures, prints or judges,
// and nothing here knows the command line.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "analysis/analyse.hpp"
#include "analysis/quality_outcome.hpp"
#include "analysis/response.hpp"
#include "analysis/run_statistics.hpp"
#include "loopcheck/outcome/monitor_trace.hpp"
#include "loopcheck/outcome/status.hpp"

// A sample within 0.1 dB of full scale is clipping; above -3 dBFS a note.
inline constexpr double clipping_level = 0.98855309465693886;       // 10^(-0.1 / 20)
inline constexpr double near_clipping_level = 0.70794578438413791;  // 10^(-3 / 20)

// The runs of a loop beyond the first (the first's are check_report's own).
struct loop_runs {
    int64_t out_channel = 1, in_channel = 1;  // 1-based
    std::vector<run_report> runs;
};

// How one mode ended: whether it ran, and if it failed, with which status
// and in what words. Modes fill these in; only the verdict (verdict.hpp)
// turns them into the session's status.
struct mode_end {
    bool ran = false;
    check_status failure = check_status::ok;  // ok: it ran to its end
    std::string reason;                       // the failure's words, or why the mode did not run
    std::string note;                         // said after the verdict, whatever it is
};

// What the latency found on every loop, beside how it ended.
struct latency_facts {
    std::vector<run_report> runs;    // the first loop's
    std::vector<loop_runs> loops;    // with --out and --in lists: loop 2 on
    int64_t first_sound_frame = -1;  // the stream's frame where the first sweep began
    bool has_response = false, response_valid = false;
    response_summary response;
    std::vector<response_row> response_rows;  // the last run's, for the file and the report
    int64_t ir_first = 0;                     // the lag of ir[0]
    std::vector<double> ir;                   // the last run's impulse response around its peak
    // The run that found no loop: its analysis, and in ir what it saw around
    // its largest tap instead (for the report).
    bool has_seen = false;
    run_result seen;
};

// The latency mode's outcome.
struct latency_outcome {
    mode_end end;
    latency_facts facts;
};

// The battery's (--quality) outcome.
struct battery_outcome {
    mode_end end;
    quality_outcome quality;
};
