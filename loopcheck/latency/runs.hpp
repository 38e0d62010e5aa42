// The runs of a measurement on a running stream and their retries: a loop
// found and measured, or why not.
#pragma once
#include <atomic>
#include <cstddef>
#include <span>
#include <string>

#include "loopcheck/io/capture.hpp"
#include "loopcheck/io/stream.hpp"
#include "loopcheck/outcome/outcome.hpp"

inline constexpr int runs_attempts = 3;                 // a run and two retries
inline constexpr double runs_lengthen_below_db = 60.0;  // a run this weak is measured again with the long sweep

struct runs_setup {
    int short_clip = 0, long_clip = 1, response_clip = 2;            // the sweeps' clips in the stream
    int loop = 0;                                                    // the loop measured (every loop plays the sweeps)
    std::span<const float> short_sweep, long_sweep, response_sweep;  // and their samples
    const std::atomic<bool>* interrupted = nullptr;                  // set by a signal: end at the next look
    std::string stall_advice;  // what to try when the stream stalls, after the message
};

// Frames of silence kept before each sweep of the response for its noise: 4096 at 48000 Hz.
int64_t runs_quiet_frames(double rate);

// Frames after the stream's first frame before the first sweep may start: --settle's.
int64_t runs_settle_frames(double settle_s, double rate);

// Waits for the stream's first frames, then measures options.repeat runs
// (each retried when spoiled, lengthened when weak). Sets the report's runs
// and, where the measurement could not finish, report.latency's failure and
// reason, and the last run's response rows and impulse response; on_run is
// called as each run is kept. Whether the runs agree, and fall within
// --expect, is the verdict's to judge.
void runs_measure(check_report& report, stream_state& s, const runs_setup& setup, const capture_wait& wait,
                  void (*on_run)(const check_report&, size_t));
