// What the monitor says as it runs and at its end: a line of text per glitch,
// status and summary, or the same as JSON Lines (one object a line, flushed,
// so that a long run can be tailed and parsed as it goes).
#pragma once
#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "analysis/monitor.hpp"
#include "loopcheck/monitor/monitor_trace.hpp"

// The glitches, the detector's and the monitor's own overruns together.
int64_t monitor_glitch_count(const monitor_progress& p);

// "2026-12-08T13:45:01.234Z".
std::string monitor_wall_text(std::chrono::system_clock::time_point t);

// A glitch: its frame counted from the stimulus's first frame (t_s = frame / rate).
std::string monitor_glitch_json(const monitor_event& e, double rate, const std::string& wall);
std::string monitor_glitch_text(const monitor_event& e, double rate, const std::string& wall);
// The monitor fell behind the capture: frames never checked.
std::string monitor_overrun_json(int64_t frame, int64_t frames, double rate, const std::string& wall);
std::string monitor_overrun_text(int64_t frame, int64_t frames, double rate, const std::string& wall);

// An entry of the stream's log as it comes: a call the host flagged or a
// cycle the callback missed (xrun_flag bits); frame from the stimulus's start.
std::string monitor_xrun_json(int64_t frame, unsigned what, double rate, const std::string& wall);
std::string monitor_xrun_text(int64_t frame, unsigned what, double rate, const std::string& wall);

// The start: the plan, where the first sound played (the latency's first
// sweep), and the measurement so far (the report's JSON object, with the verdict so far).
std::string monitor_start_json(const std::string& measurement, int64_t first_sound_frame, const monitor_progress& p,
                               const std::string& wall);
std::string monitor_start_text(const monitor_progress& p);

std::string monitor_status_json(const monitor_progress& p, const std::string& wall);
std::string monitor_status_text(const monitor_progress& p);

// The end: the summary (the report's frame adds the verdict's status and words).
void monitor_summary_json(const monitor_progress& p, nlohmann::ordered_json& line);
std::string monitor_summary_text(const monitor_progress& p);
