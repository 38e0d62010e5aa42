// What a session's modes found: the facts the verdict judges and the
// renderers show, and how each mode ended. Data and pure functions over it;
// nothing here measures, prints or judges.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "analysis/analyse.hpp"
#include "analysis/quality_outcome.hpp"
#include "analysis/response.hpp"
#include "analysis/run_statistics.hpp"
#include "loopcheck/options/options.hpp"
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

// What a session's modes found: the facts the verdict judges and the renderers show.
struct check_report {
    check_options options;
    mode_end setup;    // PortAudio, the devices, the stream
    mode_end latency;  // the runs on every loop
    mode_end battery;  // --quality
    mode_end watch;    // --monitor
    mode_end files;    // the output files, once measured
    std::string host_api;
    int in_device = -1, out_device = -1;
    std::string in_name, out_name;
    double rate = 0.0;
    int64_t buffer_granted = 0;
    double input_latency_frames = 0.0, output_latency_frames = 0.0;
    std::vector<run_report> runs;
    bool input_is_monitor = false;
    int64_t first_sound_frame = -1;  // the stream's frame where the first sweep began
    monitor_trace monitor;           // what --monitor saw: its end's figures and, for the HTML report, its trace
    monitor_progress monitor_end;    // where the monitor stood when it ended
    bool has_response = false, response_valid = false;
    response_summary response;
    std::vector<response_row> response_rows;  // the last run's, for the file and the report
    int64_t ir_first = 0;                     // the lag of ir[0]
    std::vector<double> ir;                   // the last run's impulse response around its peak
    std::vector<loop_runs> loops;             // with --out and --in lists: loop 2 on
    quality_outcome quality;                  // --quality's battery
    // The run that found no loop: its analysis, and in ir what it saw around
    // its largest tap instead (for the report).
    bool has_seen = false;
    run_result seen;
};

// The first loop's runs' statistics.
run_statistics outcome_statistics(const check_report& report);

// The reported round trip (PortAudio's input + output latency) in frames.
double outcome_reported_frames(const check_report& report);
// False when the host reported nonsense (PipeWire's JACK face gives 2^32 - 1024
// frames, a negative number read as unsigned): then there is no excess either.
bool outcome_reported_known(const check_report& report);
