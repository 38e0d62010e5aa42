// The long-run monitor on a running stream: after the latency has been
// measured, the callback plays the stimulus as a looping clip (a copy out)
// and fills the capture ring (a copy in); this main-thread loop reads the ring
// as it fills, feeds the detector block by block with whether the stream's
// log holds a flagged call or a missed cycle within the block, and hands each
// glitch as it is found, a status every 10 s and the stream's log to a sink.
// It prints nothing and judges nothing: the sink and the verdict do. It sees
// its plan, not the command line, and returns what it found.
#pragma once
#include <atomic>
#include <chrono>
#include <functional>
#include <span>
#include <string>

#include "analysis/monitor.hpp"
#include "analysis/monitor_stimulus.hpp"
#include "loopcheck/io/stream.hpp"
#include "loopcheck/io/stream_wait.hpp"
#include "loopcheck/monitor/monitor_trace.hpp"
#include "loopcheck/outcome/judgement.hpp"

// One period of the stimulus (2^22 frames, 16 MB), stimulus frame i at i: the
// callback plays it looping, so that stream frame f carries stimulus frame
// f - start, start the frame it was scheduled at.
std::vector<float> monitor_clip_make(const monitor_stimulus& s);

// The capture ring the monitor needs: 4 s, so that the main thread may fall
// that far behind before frames are lost.
int64_t monitor_ring_frames(double rate);

// What the monitor has to say as it runs; wall: when the frame concerned was
// captured. Frames count from the stimulus's start.
using monitor_wall = std::chrono::system_clock::time_point;
struct monitor_sink {
    std::function<void(const monitor_progress&, monitor_wall)> start;
    std::function<void(const monitor_event&, const monitor_progress&, monitor_wall)> glitch;
    std::function<void(int64_t frame, int64_t frames, const monitor_progress&, monitor_wall)> overrun;
    std::function<void(int64_t frame, unsigned xrun_flags, const monitor_progress&, monitor_wall)> xrun;
    std::function<void(const monitor_progress&, monitor_wall)> status;
};

struct monitor_setup {
    int clip = 0;  // the stimulus's clip in the stream
    const monitor_stimulus* stimulus = nullptr;
    const std::atomic<bool>* interrupted = nullptr;
    std::string stall_advice;
    stream_pace pace;
    monitor_sink sink;
};

// What the watch needs: how long, where its snippets go, and the loop as the
// measurement found it (its mean latency, its gain signed by its polarity).
struct monitor_watch {
    double duration_s = 0.0;  // 0: until interrupted
    std::string save_dir;     // "": no snippets
    monitor_loop loop;
    double rate = 48000.0;
};

// What it saw, and how it ended.
struct monitor_seen {
    mode_end end;
    monitor_trace trace;
    monitor_progress progress;
};

// "" when the loop can be monitored; otherwise why not, naming the level it needs.
std::string monitor_refusal(const monitor_loop& loop);

// Runs the monitor for the plan's duration (or until interrupted, or the
// stream stalls). A loop monitor_refusal refuses is not monitored: the
// outcome's end says why.
monitor_seen monitor_watch_run(stream& s, const monitor_watch& watch, const monitor_setup& setup);
