// One run's capture on a running stream: the sweep played once, the answer
// captured and analysed as it grows until the result is certain, on the main
// thread. The wait for frames is passed in, so that a scripted stream can
// drive it in tests.
#pragma once
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "analysis/analyse.hpp"
#include "analysis/deconvolve.hpp"
#include "loopcheck/io/stream.hpp"

// Waits until the stream has handled every frame before until: true, or
// false when it stalled first or the session was interrupted.
using capture_wait = std::function<bool(int64_t until)>;

struct capture_plan {
    double rate = 48000.0;
    int64_t last_lag = 96000;      // the longest round trip looked for, frames
    int64_t lead = 4800;           // frames of silence before the sweep, at least
    int64_t quiet = 0;             // of them, frames kept for the noise before the sweep
    int64_t tail = 6000;           // frames of impulse response analysed after the peak
    int clip = 0;                  // the sweep's clip in the stream
    int loop = 0;                  // the loop whose input is captured
    std::span<const float> sweep;  // and its samples
};

// A capture is certain once the impulse response has been analysed this far
// past its peak: a later, stronger path (a monitoring route, an echo) arrives
// within it. 125 ms, or 0.4 s for the response (the loop's own tail: a 3 Hz
// DC blocker's has fallen by 65 dB by then).
int64_t capture_tail(double rate, bool response);

struct run_capture {
    bool stalled = false;        // the stream stopped delivering frames
    bool overrun = false;        // the ring no longer held frames the analysis needed
    bool beyond = false;         // the largest peak lies beyond last_lag: a loop longer than looked for
    stream_marks marks;          // flagged calls and missed cycles within the frames analysed
    int64_t start = 0;           // the sweep's first frame
    int clip = 0;                // and its clip
    std::vector<float> quiet;    // the capture just before the sweep started
    std::vector<float> capture;  // from the sweep's first frame on
    impulse_response response;
    run_result result;
};

// Plays the sweep once, plan.lead frames from now (and at least two buffers
// and 10 ms ahead of the callback), and captures until the loop is found and
// tail frames past its peak analysed, or until last_lag + tail lags have been
// searched without one. Every lag the capture holds in full is searched,
// beyond last_lag too: the sweep of a loop just too long for it then shows as
// a peak out of range, not as the ringing that leads up to it.
run_capture capture_run(stream_state& s, const capture_plan& plan, const capture_wait& wait);

// What spoiled a run, in a few words ("" when nothing did).
std::string capture_spoiled_by(const run_capture& run);
