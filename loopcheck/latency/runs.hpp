// The runs of a measurement on a running stream and their retries: a loop
// found and measured, or why not.
#pragma once
#include <atomic>
#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "analysis/analyse.hpp"
#include "analysis/response.hpp"
#include "analysis/run_statistics.hpp"
#include "loopcheck/io/capture.hpp"
#include "loopcheck/io/stream.hpp"
#include "loopcheck/outcome/judgement.hpp"

// A sample within 0.1 dB of full scale is clipping; above -3 dBFS a note.
inline constexpr double clipping_level = 0.98855309465693886;       // 10^(-0.1 / 20)
inline constexpr double near_clipping_level = 0.70794578438413791;  // 10^(-3 / 20)

// The runs of a loop beyond the first (the first's are latency_facts' own).
struct loop_runs {
    int64_t out_channel = 1, in_channel = 1;  // 1-based
    std::vector<run_report> runs;
};

// What the latency found on every loop.
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

// The runs' facts and how they ended.
struct runs_outcome {
    mode_end end;
    latency_facts facts;
};

struct runs_setup {
    int short_clip = 0, long_clip = 1, response_clip = 2;            // the sweeps' clips in the stream
    int loop = 0;                                                    // the loop measured (every loop plays the sweeps)
    std::span<const float> short_sweep, long_sweep, response_sweep;  // and their samples
    const std::atomic<bool>* interrupted = nullptr;                  // set by a signal: end at the next look
    std::string stall_advice;  // what to try when the stream stalls, after the message
};

// Frames after the stream's first frame before the first sweep may start: --settle's.
int64_t runs_settle_frames(double settle_s, double rate);

// What the runs need: the stream's rate, the runs and their reach, what to
// keep for the files, and the names messages use.
struct runs_plan {
    double rate = 48000.0;
    int64_t repeat = 1;                         // runs per loop
    double max_delay_s = 2.0, settle_s = 0.05;  // --max-delay, --settle
    bool response = false;                      // the response sweep, and its summary (--response)
    bool rows = false;                    // the response's rows and the noise before each sweep (a file, the report)
    std::vector<std::string> loop_names;  // each loop's name, when there are several
    std::vector<std::string> inputs;      // each loop's input as messages name it: input 1 of "system"
    std::string host_api;                 // named when the stream delivers nothing
};

// Called as each run is kept, with its index from 0.
using runs_hook = std::function<void(const run_report&, size_t)>;

// Waits for the stream's first frames, then measures plan.repeat runs of
// setup.loop (each retried when spoiled, lengthened when weak): the runs and,
// where the measurement could not finish, the end's failure and reason, and
// the last run's response rows and impulse response. Whether the runs agree,
// and fall within --expect, is the verdict's to judge.
runs_outcome runs_measure(stream& s, const runs_plan& plan, const runs_setup& setup, const capture_wait& wait,
                          const runs_hook& on_run);
