// What --monitor keeps for the HTML report while it runs, in memory fixed
// from the start however long the run: the loop's delay about once a second
// as a bounded series, each glitch's time (the first series_marks::capacity,
// every one counted) and a histogram of the glitch-free stretches. Times are
// seconds from the stimulus's first frame, as the glitch lines give them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/monitor.hpp"
#include "analysis/series.hpp"

// Where the monitor stands: what every status line and the summary show.
struct monitor_progress {
    double rate = 48000.0;
    double latency = 0.0;        // frames, from the measurement: the delay at the start
    int64_t stimulus_frame = 0;  // the stream's frame where the stimulus began playing
    double duration_s = 0.0;     // asked for; 0 until Ctrl-C
    int64_t frames = 0;          // captured frames fed to the detector
    int64_t xruns = 0;           // flagged calls and missed cycles the stream logged meanwhile
    int64_t overruns = 0;        // times the monitor fell behind the capture ring (frames lost to it)
    int64_t overrun_frames = 0;
    monitor_summary summary;
};

inline constexpr size_t monitor_trace_buckets = 4096;
// The report's list of events: the first this many (as many as WAV files may be written).
inline constexpr size_t monitor_trace_listed = 1000;

// One event of the report's list: a glitch or a change followed, and the
// WAV file of its neighbourhood ("" when none was written).
struct monitor_trace_event {
    monitor_event e;
    std::string file;
};
inline constexpr double monitor_trace_every_s = 1.0;

struct monitor_trace {
    bool on = false;
    double rate = 0.0;
    double checked_s = 0.0;  // how far the run got, set at the end
    // The end's figures, as the summary line gives them.
    double duration_asked_s = 0.0;  // 0: until Ctrl-C
    double latency = 0.0;           // frames, the measurement's
    int64_t frames = 0, xruns = 0, overruns = 0, overrun_frames = 0;
    monitor_summary summary;
    series delay = series_make(monitor_trace_buckets, monitor_trace_every_s);  // frames
    series_marks glitches;
    std::vector<monitor_trace_event> events;  // the first monitor_trace_listed, in time order (reserved at the start)
    int64_t events_not_listed = 0;
    // Glitch-free stretches: the start to the first glitch, between
    // glitches, the last to the end (the whole run when there was none).
    series_histogram stretches;
    double stretch_from = 0.0;
    double next_delay_s = 0.0;  // when the next delay point is due
};

monitor_trace monitor_trace_start(double rate);
// True when the delay is due at t_s (one a monitor_trace_every_s).
bool monitor_trace_delay_due(const monitor_trace& m, double t_s);
void monitor_trace_delay(monitor_trace& m, double t_s, double frames);
// A glitch at t_s (in time order).
void monitor_trace_glitch(monitor_trace& m, double t_s);
// An event for the report's list (any kind but found), with its file.
void monitor_trace_event_add(monitor_trace& m, const monitor_event& e, const std::string& file);
// The end of the run at t_s: the last stretch.
void monitor_trace_end(monitor_trace& m, double t_s);
