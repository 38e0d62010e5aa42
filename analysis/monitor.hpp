// The long-run monitor's detector: fed every captured frame of a loop that
// plays the monitor's stimulus, it predicts each frame from the stimulus and
// the loop's gain and phase at each tone, follows the loop's delay as a
// delay-locked loop does, and tests each frame's residue after a local refit
// of the delay (so that two clocks' slide, their wander and a change of their
// rate are followed, never reported as glitches). It reports each stretch
// where the capture leaves every alignment the clock allows: frames dropped,
// frames inserted, zeros, or another discontinuity, each its own event; and,
// as no glitch, a change of the clocks' rate, of the loop's polarity or of its
// level. Its state is sized at the start from the rate and never grows.
#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "analysis/monitor_align.hpp"
#include "analysis/monitor_drift.hpp"
#include "analysis/monitor_model.hpp"
#include "analysis/monitor_rate.hpp"
#include "analysis/monitor_refit.hpp"
#include "analysis/monitor_stimulus.hpp"

enum class monitor_kind {
    dropped,        // the answer jumped ahead: the delay shrank by frames
    inserted,       // frames repeated or held back: the delay grew by frames
    zeros,          // frames of silence (digital zero, or the loop's own DC), then the same alignment
    discontinuity,  // a jump in phase or level, or a burst, that is none of those: frames disturbed
    lost,           // no alignment found within 0.15 s: the stimulus is not (recognisably) there
    found,          // the stimulus back after it was lost: frames, how long it was gone
    rate,           // the clocks' rate changed (rate_before_ppm, rate_after_ppm): followed, no glitch
    polarity,       // the loop's polarity flipped (gain_before, gain_after), the delay unchanged: no glitch
    level,          // the loop's gain changed (gain_before, gain_after), the delay unchanged: no glitch
};
inline constexpr int monitor_kinds = 9;
const char* monitor_kind_name(monitor_kind kind);
// dropped, inserted, zeros, discontinuity and lost: what --max-glitches counts.
bool monitor_kind_is_glitch(monitor_kind kind);

// Which end of the loop a slip (dropped, inserted) happened at, told by the
// frames it is whole in: the capture's, or the playback's, which differ by
// the clocks' offset. none: one clock, or a slip too small for the offset to
// tell the two apart (fewer than monitor_side_resolution frames between them).
enum class monitor_side { none, capture, playback };
const char* monitor_side_name(monitor_side side);  // "capture", "playback"; nullptr for none
inline constexpr double monitor_side_resolution = 0.025;

// A shift of the stimulus (the stimulus frames the capture moved on) read
// as a slip: whole, within monitor_slip_tolerance, in the capture's frames or
// the playback's; frames: its size there (+: dropped, -: inserted).
inline constexpr double monitor_slip_tolerance = 0.1;
struct monitor_slip {
    bool whole = false;
    int64_t frames = 0;
    monitor_side side = monitor_side::none;
};
monitor_slip monitor_slip_of(double shift, double slope);

struct monitor_event {
    int64_t frame = 0;  // the capture frame where it starts
    monitor_kind kind = monitor_kind::discontinuity;
    int64_t frames = 0;         // its size, as the kind says: a slip's in its side's frames, others' in captured frames
    double delay_change = 0.0;  // frames, sub-frame (+: the delay grew)
    double level_db = 0.0;      // a discontinuity's, a polarity's or a level's change of level
    bool xrun_flagged = false;  // the host flagged an xrun within 50 ms before it to 50 ms and the loop's latency after
    monitor_side side = monitor_side::none;
    double delay = 0.0;                                  // found: the loop's delay now, frames
    double gain_before = 0.0, gain_after = 0.0;          // polarity, level: the loop's gain, linear and signed
    double rate_before_ppm = 0.0, rate_after_ppm = 0.0;  // rate: the delay's slope x 1e6 either side of frame
    bool learning_restarted = false;  // found while the residue was learnt, which then began again after it
};

// What the detector knows of the loop before it starts: the stimulus's first
// frame was played at playback frame first_played (stimulus frame i at
// playback frame i), and capture frame n holds what was played latency
// frames earlier, times gain (negative: inverted).
struct monitor_loop {
    double latency = 0.0;  // frames, fractional
    double gain = 1.0;
    int64_t first_played = 0;
};

struct monitor_summary {
    bool aligned = false;           // the stimulus was found and the residue learnt (at some time)
    bool locked = false;            // the stimulus was followed at the last frame fed
    bool learnt_disturbed = false;  // a disturbance while the residue was learnt began the learning again
    int64_t learning_restarts = 0;
    double residue_db = 0.0;      // the threshold below the signal's RMS, dB (negative)
    double threshold = 0.0;       // linear
    double residue_sigma = 0.0;   // the residue's robust standard deviation (1.4826 x its median |r|), linear
    double false_per_hour = 0.0;  // glitches expected per hour from the residue's learnt statistics alone
    double drift_ppm = 0.0;       // the drift over the run: d(delay)/d(frame) x 1e6, + when the capture is fast
    int64_t drift_from = 0, drift_to = 0;  // the capture frames it is the delay's change between
    double drift_ppm_uncertainty = -1.0;   // one standard error; -1 before 0.8 s (monitor_drift.hpp)
    double drift_ppm_interval = -1.0;      // the 95 % interval's half-width; -1 with the uncertainty
    int64_t drift_batch_frames = 0;        // the slopes' span (0.1 s): the interval holds wander slower than it
    double drift_correlation_s = 0.0;      // the wander's correlation time the slopes show (0: none)
    bool drift_wander_slow = false;        // wander slower than the run shows: the interval is the run's, no more
    double delay_start_frames = 0.0, delay_end_frames = 0.0;  // the loop's delay at the two frames below
    int64_t delay_start_at = 0, delay_end_at = 0;             // capture frames
    int64_t frames_checked = 0;                               // captured frames the prediction followed
    int64_t frames_unchecked = 0;  // between each event's start and the alignment found again, a lost tail too
    int64_t frames_lost = 0;       // from each lost to its found (or to the end), within frames_unchecked
    int64_t longest_clean_frames = 0, longest_clean_from = 0;
    int64_t events = 0;             // the glitches (monitor_kind_is_glitch): what --max-glitches counts
    int64_t changes = 0;            // the rate, polarity and level events: no glitches
    int64_t events_not_listed = 0;  // events of any kind beyond the list's cap
    std::array<int64_t, monitor_kinds> by_kind{};
    int64_t xrun_blocks = 0;     // xruns the host flagged: calls noted, or blocks fed with the flag
    int64_t frames_skipped = 0;  // gaps between the blocks' frame numbers
};

struct monitor_detector;

// A detector for the stimulus on a loop. Throws std::invalid_argument for a
// latency outside 0 .. 1e7 frames or a gain whose size is outside 1e-4 .. 100
// (NaN, infinities included). event_cap: events kept for the summary's list.
// The loops the detector can follow: a latency of 0 .. 1e7 frames and a gain
// whose magnitude lies within these (-80 dB to +40 dB); below, the stimulus
// sinks into the converters' noise.
inline constexpr double monitor_gain_least = 1e-4, monitor_gain_most = 100.0;
inline constexpr double monitor_latency_most = 1e7;

// "" when the detector can follow the loop; otherwise why not.
std::string monitor_loop_unusable(const monitor_loop& loop);

// Throws std::invalid_argument on a loop monitor_loop_unusable refuses, or a stimulus without tones.
monitor_detector monitor_detector_make(const monitor_stimulus& s, const monitor_loop& loop, size_t event_cap = 1000);

// Checks the block (captured frames first_frame ..; any size; contiguous with
// the last, a gap is skipped and the alignment looked for afresh) and appends
// the events found to events (each at most about 0.2 s after its frame).
// xrun: the host flagged an under- or overflow for this block.
void monitor_feed(monitor_detector& d, std::span<const float> block, int64_t first_frame, bool xrun,
                  std::vector<monitor_event>& events);

// The host flagged an xrun at capture frames first .. end - 1 (a call's
// buffer, a missed cycle's gap): an event from 50 ms before them to 50 ms and
// the loop's latency after them says so (an underrun at the playback reaches
// the capture a round trip later). Noted before the frames are fed.
// (monitor_feed's xrun flags its whole block.)
void monitor_xrun(monitor_detector& d, int64_t first, int64_t end);

// Whether an xrun noted so far lies within that window of frame: for a
// caller that holds an event until its log is final past it.
inline constexpr double monitor_xrun_near_s = 0.05;
bool monitor_xrun_near(const monitor_detector& d, int64_t frame);

monitor_summary monitor_summarise(const monitor_detector& d);
// The events so far, the first event_cap of them.
std::span<const monitor_event> monitor_events(const monitor_detector& d);

// Copies captured frames first_frame .. into out from the detector's ring of
// the last 0.6 s at least; frames no longer (or not yet) there become 0.
// Returns how many were there. For a snippet 100 ms either side of an event,
// copy once the detector has been fed 100 ms past the event's frame.
int64_t monitor_capture_copy(const monitor_detector& d, int64_t first_frame, std::span<float> out);
// The last frame fed, plus one.
int64_t monitor_frames_fed(const monitor_detector& d);
// The detector's work so far, in steps of its inner loops: a tone of a frame
// predicted or demodulated, a tone of a shift scored, a frame read from the
// ring. Tracking costs about 2 x 12 tones a frame: a test that the detector
// keeps up with the stream holds each block's work to a bound, not its time.
int64_t monitor_work(const monitor_detector& d);

enum class monitor_state { find, acquire, learn, track, search };

// The fitted delay at the end of the last stretch followed, and its
// standard error over the residue's sigma: where the next must join.
struct monitor_join {
    bool valid = false;
    double delay = 0.0, spread = 0.0;
};

struct monitor_detector {
    monitor_model model, trial;
    double rate = 0.0;
    double latency = 0.0;                      // as given: the xrun window's round trip
    int64_t chunk = 0, window = 0, reach = 0;  // frames
    int64_t start = 0;                         // the first capture frame looked at
    monitor_state state = monitor_state::find;

    // The capture: a ring of the last ring.size() frames, a power of two.
    std::vector<float> ring;
    int64_t fed_end = 0, valid_from = 0, next = 0;
    bool fed_any = false;

    // Scratch, sized at the start.
    std::vector<double> unit_re, unit_im, turn_re, turn_im, acc_re, acc_im, rho_re, rho_im, weight;
    std::vector<double> cube_re, cube_im;      // the cube's own content at each tone
    std::vector<double> square_re, square_im;  // the square's
    std::vector<double> acc2_re, acc2_im;      // the residue's at each tone, at a refitted delay
    std::vector<double> window_weights;
    std::vector<float> frames;  // a stretch of the ring, contiguous (a window, a find)
    std::vector<float> piece;   // a chunk of it, for following
    // A window's residue, derivative and limits per frame, and the refit's prefix sums (one longer).
    std::vector<double> residue, derivative, limits, signal;
    std::vector<double> sum_d0, sum_d1, sum_d2, sum_r0, sum_r1;
    // The last clean pass's sums, for the loops.
    double pass_sum = 0.0, pass_square = 0.0, pass_cube = 0.0, pass_norm_square = 0.0, pass_norm_cube = 0.0;
    double pass_sum_square = 0.0, pass_sum_cube = 0.0, pass_cross = 0.0;

    // Learning the residue: a histogram of 20 log10 |r| in quarter decibels,
    // and each learning chunk's peak and its frame.
    std::vector<int64_t> histogram;
    std::vector<double> learn_peak, learn_sorted;
    std::vector<int64_t> learn_peak_at;
    int64_t learn_chunks = 0;
    int64_t learn_from = 0;     // the first frame learnt from
    double learnt_level = 0.0;  // the largest |prediction| then: beyond it the threshold grows
    int64_t phase_end = 0;
    // The tones' gains when locked on, and the loop's signed gain then: the
    // polarity and level events' reference.
    std::vector<double> reference_re, reference_im;
    double reference_gain = 1.0;

    // The search after a disturbance: the model before it, and scratch for
    // the stretch between two disturbances close together.
    monitor_model previous;
    std::vector<float> stretch_frames;
    std::vector<double> stretch_window, stretch_residue, stretch_limits, stretch_after, stretch_after_limits;
    int64_t trigger = 0, attempt = 0;
    bool lost_reported = false, silent = false;
    int lost_slope = 0;        // the next of the clock offsets tried while lost
    size_t lost_listed = 0;    // the lost event's place in events (the list's cap aside), to close it when found
    int64_t lost_earlier = 0;  // lost before a gap in the caller's frames: from the lost frame to the gap's end

    monitor_join join;  // where tracking's next chunk must join

    // Drift: every chunk's measured delay, by 0.1 s slopes and by batches;
    // the rate's steps from the same.
    double jumps = 0.0;  // the whole slips, taken out of the drift's measurements
    monitor_drift drift;
    monitor_rate rate_watch;

    int64_t clean_start = 0;
    monitor_summary summary;
    mutable int64_t work = 0;  // monitor_work: counted where the ring is read, too
    std::vector<monitor_event> events;
    size_t event_cap = 0;
    std::array<int64_t, 64> xrun_first{}, xrun_end{};  // the last calls flagged, a ring
    int64_t xrun_count = 0;
};
