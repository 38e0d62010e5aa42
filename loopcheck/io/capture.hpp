// Capturing on a running stream, the one routine every mode's capture goes
// through: a clip scheduled (or one already playing), the wait for its
// frames, each loop's copy, and what the stream's log holds for them; a
// capture that a flagged call, a missed cycle, a stall or the ring spoiled
// says so (capture_spoiled_by), for the mode's retry (stream_wait.hpp). The
// sweep's capture (capture_run) is that routine, the sweep's answer analysed
// as it grows until it is certain. The wait is passed in, so that a scripted
// stream can drive it in tests.
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

// What came back: each loop's frames, from its own first frame on.
struct capture_got {
    int64_t start = 0;                        // the clip's first frame
    std::vector<std::vector<float>> capture;  // per loop of the take, from start + its from on
    std::vector<std::vector<float>> quiet;    // per loop, the frames just before start (those of the take's quiet)
    stream_marks marks;                       // the log over every frame copied, the quiet ones included
    bool stalled = false;                     // the stream stopped delivering frames (or the session was interrupted)
    bool overrun = false;                     // the ring no longer held frames the capture needed
};

// One capture: what to play, when, and what to keep of each loop.
struct capture_take {
    int clip = -1;              // the clip to schedule; -1: none, the frames are those of one playing from start
    int64_t start = -1;         // the clip's first frame; -1: as soon as it is safe, and lead frames from now at least
    int64_t lead = 0;           // with start -1: frames from now, at least
    int64_t quiet = 0;          // frames kept of each loop from before start (the noise before a sweep)
    std::vector<int> loops{0};  // the loops copied
    std::vector<int64_t> from;  // per loop copied, its first frame counted from start (0 for each when empty)
    int64_t frames = 0;         // frames wanted of each loop, at first
    int64_t most = 0;           // at most this many of each (0: frames)
    // After each wait, what is wanted now in all, given what was copied; no
    // more than was copied ends the capture. Empty: frames are all there is.
    std::function<int64_t(const capture_got&)> more;
};

// Schedules the clip (unless -1), waits for the frames wanted of each loop,
// copies them (as many as have come, up to most), asks for more until no
// more is wanted, then reads the log over them.
capture_got stream_capture(stream& s, const capture_take& take, const capture_wait& wait);

// What spoiled a capture, in a few words ("" when nothing did).
std::string capture_spoiled_by(const capture_got& got);

// ---- the sweep's capture -------------------------------------------------------

// A capture this weak (the peak's SNR, dB) is measured again with the long
// sweep, 12 dB more signal: the latency's runs and the battery's response alike.
inline constexpr double capture_lengthen_below_db = 60.0;

// Frames of silence kept before each sweep of a response for its noise: 4096 at 48000 Hz.
int64_t capture_quiet_frames(double rate);

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
run_capture capture_run(stream& s, const capture_plan& plan, const capture_wait& wait);

// What spoiled a run, in a few words ("" when nothing did).
std::string capture_spoiled_by(const run_capture& run);
