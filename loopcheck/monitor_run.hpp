// The long-run monitor on a running stream: after the latency has been
// measured, the callback plays the stimulus as a looping clip (a copy out)
// and fills the capture ring (a copy in); this main-thread loop reads the ring
// as it fills, feeds the detector block by block with whether the stream's
// log holds a flagged call or a missed cycle within the block, and reports
// each glitch as it is found, a status every 10 s and a summary at the end.
#pragma once
#include <atomic>
#include <string>

#include "analysis/monitor_stimulus.hpp"
#include "loopcheck/monitor_report.hpp"
#include "loopcheck/report.hpp"
#include "loopcheck/stream.hpp"

// One period of the stimulus (2^22 frames, 16 MB), stimulus frame i at i: the
// callback plays it looping, so that stream frame f carries stimulus frame
// f - start, start the frame it was scheduled at.
stream_clip monitor_clip_make(const monitor_stimulus& s);

// The capture ring the monitor needs: 4 s, so that the main thread may fall
// that far behind before frames are lost.
int64_t monitor_ring_frames(double rate);

struct monitor_setup {
    int clip = 0;  // the stimulus's clip in the stream
    const monitor_stimulus* stimulus = nullptr;
    const std::atomic<bool>* interrupted = nullptr;
    std::string stall_advice;
};

// Runs the monitor for report.options.monitor's duration (or until
// interrupted), printing as it goes, and sets the report's status and message.
void monitor_run(check_report& report, stream_state& s, const monitor_setup& setup);

// The verdict on a finished run: ok, glitches, or a limit exceeded.
void monitor_judge(check_report& report, const monitor_progress& p);
