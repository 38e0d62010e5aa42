// The runs of a measurement on a running stream and their retries: a loop
// found and measured, or why not.
#pragma once
#include <atomic>
#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "loopcheck/io/capture.hpp"
#include "loopcheck/io/stream.hpp"
#include "loopcheck/outcome/outcome.hpp"

struct runs_setup {
    int short_clip = 0, long_clip = 1, response_clip = 2;            // the sweeps' clips in the stream
    int loop = 0;                                                    // the loop measured (every loop plays the sweeps)
    std::span<const float> short_sweep, long_sweep, response_sweep;  // and their samples
    const std::atomic<bool>* interrupted = nullptr;                  // set by a signal: end at the next look
    std::string stall_advice;  // what to try when the stream stalls, after the message
};

// Frames after the stream's first frame before the first sweep may start: --settle's.
int64_t runs_settle_frames(double settle_s, double rate);

// What the latency needs of the session: the stream's rate, the runs and
// their reach, what to keep for the files, and the names messages use.
struct latency_plan {
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
latency_outcome runs_measure(stream& s, const latency_plan& plan, const runs_setup& setup, const capture_wait& wait,
                             const runs_hook& on_run);
