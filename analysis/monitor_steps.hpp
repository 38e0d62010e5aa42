// The detector's steps, shared by its files: the ring, finding and locking
// on, tracking chunk by chunk, the search after a disturbance, the events.
// Not for callers: monitor.hpp is the interface.
#pragma once
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "analysis/monitor.hpp"

constexpr double tail_factor = 2.0;            // x the learning's largest peak, when its tail is accepted
constexpr int tail_rank = 8;                   // chunks of 47 (0.25 s) beyond 8 sigma: a tail; fewer: a burst
constexpr int most_learning_restarts = 3;      // then the learning's largest peak sets the threshold too
constexpr double threshold_sigmas = 8.0;       // see docs/monitor.md for the false alarms this gives
constexpr double threshold_floor_db = -100.0;  // of the signal: a digital loop's rounding is no glitch
constexpr double settle_seconds = 0.05;        // after the stimulus's answer arrives: the converters' filters fill
constexpr double acquire_seconds = 0.25, learn_seconds = 0.25;
constexpr double settle_learn_seconds = 0.15;  // narrowed loops settling before the residue is learnt
constexpr double lost_seconds = 0.15, epoch_seconds = 0.1;
constexpr double find_reach_seconds = 0.02, search_reach_seconds = 0.25;
constexpr double between_least_seconds = 0.25e-3;  // a clean run this long between two disturbances parts them
constexpr double sanity_share = 0.3;               // while locking on: a residue this large restarts the search
constexpr double histogram_floor_db = -240.0;      // quarter-decibel bins above it, up to 0 dB
constexpr int64_t histogram_bins = 960;
constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr double max_level_change_db = 20.0;  // beyond, not a change of level but the signal gone

// Seconds at the detector's rate, in whole frames.
int64_t monitor_seconds(const monitor_detector& d, double s);

// The ring: a frame, a stretch copied into d.frames or another buffer (all
// of it in the ring), the oldest frame still there and valid.
float monitor_ring_at(const monitor_detector& d, int64_t frame);
std::span<const float> monitor_ring_stretch(monitor_detector& d, int64_t first, int64_t count);
std::span<const float> monitor_ring_copy(const monitor_detector& d, int64_t first, int64_t count,
                                         std::vector<float>& into);
int64_t monitor_ring_oldest(const monitor_detector& d);

// Views of the detector's scratch for a pass of the model and an alignment,
// and the alignment's trial model taken as the model.
monitor_pass monitor_pass_of(monitor_detector& d);
monitor_align_work monitor_align_of(monitor_detector& d);
void monitor_adopt_trial(monitor_detector& d);

// Each step returns whether it got on (false: it waits for frames).
bool monitor_step_find(monitor_detector& d);
bool monitor_step_chunk(monitor_detector& d, std::vector<monitor_event>& out);
bool monitor_step_search(monitor_detector& d, std::vector<monitor_event>& out);
// Stops tracking at frame (silent: a gap in the caller's frames, not reported).
void monitor_begin_search(monitor_detector& d, int64_t frame, bool silent);

// Following the clock (monitor_follow.cpp): model m over frames first ..
// first + count - 1 (count at most a chunk), every frame within the
// threshold, after a local refit of the delay when the model alone leaves a
// frame over it; the refit then joins the delay before it and m moves to it.
// accumulate: the tones' demodulated residue and the distortion's sums for
// the loops, from the model alone (when it fits without a refit).
struct monitor_followed {
    bool fits = false;
    bool refit = false;     // fitted only after the refit (m moved)
    int64_t over = -1;      // when not: the first frame the model alone left over the threshold
    double measured = 0.0;  // the delay at the stretch's middle
};
// join: the last stretch's fitted delay at its end, which the refit must
// meet (none: anything joins); set to this stretch's.
monitor_followed monitor_follow(monitor_detector& d, monitor_model& m, int64_t first, int64_t count, bool accumulate,
                                monitor_join& join);
// The distortion's sums for the loops (d.pass_square, pass_cube and their
// norms) from model m moved by the spline f, so that no delay's error is
// left to leak into them: the cube's from what lies between the tones.
void monitor_distortion_sums(monitor_detector& d, const monitor_model& m, std::span<const float> y, int64_t first,
                             const monitor_refit& f);
// d.pass_cube and pass_norm_cube less each tone's own part (the residue's
// at each tone in acc, the cube's in d.cube_re/im), over frames frames.
void monitor_cube_between_tones(monitor_detector& d, std::span<const double> acc_re, std::span<const double> acc_im,
                                double frames);
// The same a chunk at a time over a longer stretch; false at the first chunk that does not fit (over: its frame).
bool monitor_follow_stretch(monitor_detector& d, monitor_model& m, int64_t first, int64_t count, int64_t& over,
                            monitor_join& join);

// The stretch [a, b) between the model before a disturbance (stopped fitting
// at a) and the one after it (fits from b), parted into every run that fits
// some alignment and each boundary reported (monitor_explain.cpp).
void monitor_explain(monitor_detector& d, const monitor_model& before, const monitor_model& after, int64_t a, int64_t b,
                     std::vector<monitor_event>& out);
// After lost: the stimulus back, found at the earliest run of some alignment
// before b (after fits from b), and what happened between it and b.
void monitor_explain_found(monitor_detector& d, const monitor_model& after, int64_t b, std::vector<monitor_event>& out);

// An event into the caller's list and the detector's (capped) one.
void monitor_report(monitor_detector& d, monitor_event e, std::vector<monitor_event>& out);
void monitor_report_rate(monitor_detector& d, const monitor_rate_step& step, std::vector<monitor_event>& out);
void monitor_note_xrun(monitor_detector& d, int64_t first, int64_t end);
