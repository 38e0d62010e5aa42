// The detector's steps, shared by its files: the ring, finding and locking
// on, tracking chunk by chunk, the search after a disturbance, the events.
// Not for callers: monitor.hpp is the interface.
#pragma once
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "analysis/monitor.hpp"

constexpr double tail_factor = 2.0;            // x the learnt residue's 99.99th percentile
constexpr double threshold_sigmas = 8.0;       // see docs/monitor.md for the false alarms this gives
constexpr double threshold_floor_db = -100.0;  // of the signal: a digital loop's rounding is no glitch
constexpr double settle_seconds = 0.05;        // after the stimulus's answer arrives: the converters' filters fill
constexpr double acquire_seconds = 0.25, learn_seconds = 0.25;
constexpr double lost_seconds = 0.15, epoch_seconds = 0.1;
constexpr double find_reach_seconds = 0.02, search_reach_seconds = 0.25;
constexpr double between_least_seconds = 0.25e-3;  // a clean run this long between two disturbances parts them
constexpr double sanity_share = 0.3;               // while locking on: a residue this large restarts the search
constexpr double histogram_floor_db = -240.0;      // quarter-decibel bins above it, up to 0 dB
constexpr int64_t histogram_bins = 960;
constexpr double infinity = std::numeric_limits<double>::infinity();

// Seconds at the detector's rate, in whole frames.
int64_t monitor_seconds(const monitor_detector& d, double s);

// The ring: a frame, a stretch copied into d.frames (all of it in the ring),
// the oldest frame still there and valid.
float monitor_ring_at(const monitor_detector& d, int64_t frame);
std::span<const float> monitor_ring_stretch(monitor_detector& d, int64_t first, int64_t count);
int64_t monitor_ring_oldest(const monitor_detector& d);

// Views of the detector's scratch for a pass of the model and an alignment,
// and the alignment's trial model taken as the model.
monitor_pass monitor_pass_of(monitor_detector& d);
monitor_align_work monitor_align_of(monitor_detector& d);
void monitor_adopt_trial(monitor_detector& d);

// Each step returns whether it got on (false: it waits for frames).
bool monitor_step_find(monitor_detector& d);
bool monitor_step_chunk(monitor_detector& d);
bool monitor_step_search(monitor_detector& d, std::vector<monitor_event>& out);
// Stops tracking at frame (silent: a gap in the caller's frames, not reported).
void monitor_begin_search(monitor_detector& d, int64_t frame, bool silent);

// An event into the caller's list and the detector's (capped) one.
void monitor_report(monitor_detector& d, monitor_event e, std::vector<monitor_event>& out);
void monitor_note_xrun(monitor_detector& d, int64_t first, int64_t end);
