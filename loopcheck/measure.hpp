// The runs of a measurement on a running stream: each plays the sweep once
// and captures until its result is certain, on the main thread.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/analyse.hpp"
#include "analysis/deconvolve.hpp"

// Set by a signal handler (Ctrl-C, SIGTERM, SIGHUP): the run ends at its next
// look, and the session through the same shutdown as every other path.
extern std::atomic<bool> measure_interrupted;
static_assert(std::atomic<bool>::is_always_lock_free);

struct measure_plan {
    double rate = 48000.0;
    int64_t last_lag = 96000;  // the longest round trip looked for, frames
    int64_t lead = 4800;       // frames of silence before the sweep
    int64_t tail = 6000;       // frames of impulse response analysed after the peak
    bool long_sweep = false;   // the long sweep: 12 dB more signal, 1.4 s instead of 85 ms
};

// A capture is certain once the impulse response has been analysed this far
// past its peak: a later, stronger path (a monitoring route, an echo) arrives
// within it. 125 ms, at least a neighbourhood.
int64_t certain_tail(double rate, bool response);

struct run_capture {
    bool stalled = false;       // the stream stopped delivering frames
    bool beyond = false;        // the largest peak lies beyond last_lag: a loop longer than looked for
    bool flagged = false;       // a callback during the capture had under- or overflow flags
    bool skipped = false;       // the callback missed cycles during the capture
    unsigned long flags = 0;
    int64_t lead_frames = 0;    // frames of silence kept before the sweep in quiet
    std::vector<float> quiet;   // the capture just before the sweep started
    std::vector<float> capture; // from the sweep's first frame on
    impulse_response response;
    run_result result;
};

// Plays the sweep once, lead frames from now, and captures until the loop is
// found and tail frames past its peak analysed, or until last_lag + tail lags
// have been searched without one. Every lag the capture holds in full is
// searched, beyond last_lag too: the sweep of a loop just too long for it then
// shows as a peak out of range, not as the ringing that leads up to it.
run_capture measure_run(const measure_plan& plan);

// What spoiled a run, in a few words ("" when nothing did).
std::string run_spoiled_by(const run_capture& run);
