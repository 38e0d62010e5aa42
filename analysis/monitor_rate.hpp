// Watching the clocks' rate for a step. The delay measured chunk by chunk
// goes into a ring of two spans (0.1 s each): a least-squares line through
// each, the difference of their slopes the step at the frame between them.
// A step is reported where that difference stands out from its own spread:
// the measurement's (from the lines' residuals) and the wander's (learnt as
// the run goes, from the differences a span apart, each clipped at the
// threshold so that a step does not teach it to miss the next), six times
// over, and at least 0.05 ppm; at the span where it peaks, its frame where
// the two lines meet. Wander of a few ppm over a fraction of a second makes
// steps of as much; only a step that stands out of it is one. Nothing is
// reported in the first second: the spread is learnt first, and the largest
// step then waiting is judged by it. Pure, constant memory; the detector
// feeds it.
#pragma once
#include <array>
#include <cstdint>

inline constexpr int monitor_rate_most_span = 64;  // points in each of the two spans, at most
inline constexpr double monitor_rate_sigmas = 6.0;
inline constexpr double monitor_rate_least_ppm = 0.05;
inline constexpr int monitor_rate_warm_spans = 10;  // differences learnt before any report
inline constexpr int monitor_rate_memory = 32;      // the differences the wander's spread is the median of

struct monitor_rate_step {
    bool found = false;
    double frame = 0.0;                // where the two lines meet
    double before = 0.0, after = 0.0;  // the slopes, frames a frame
};

struct monitor_rate {
    int span = 19;  // points in each half
    std::array<double, 2 * monitor_rate_most_span> t{}, delay{};
    int count = 0;                                     // points in the ring (up to 2 span)
    int head = 0;                                      // where the next goes
    int since_learnt = 0;                              // points since the last difference learnt
    int held_off = 0;                                  // points still to come before another report
    std::array<double, monitor_rate_memory> learnt{};  // differences squared, a span apart, clipped
    int learnt_count = 0;                              // all learnt so far (the last monitor_rate_memory kept)
    monitor_rate_step peak;                            // the largest step over the threshold not yet reported
    double peak_size = 0.0;
    double peak_measured = 0.0;  // the measurement's spread of the difference there
    int peak_age = 0;
};

// span: points in each half (0.1 s of chunks), 4 .. monitor_rate_most_span.
monitor_rate monitor_rate_make(int span);
// Forgets the points (after a glitch, the alignment found again), not what it has learnt.
void monitor_rate_clear(monitor_rate& w);
// A point: the delay (jumps taken out) at frame t; returns a step when one is due.
monitor_rate_step monitor_rate_add(monitor_rate& w, double t, double delay);
// The threshold now for a difference whose measurement spreads by
// measurement_spread, frames a frame (before the wander is learnt, the
// measurement's alone).
double monitor_rate_threshold(const monitor_rate& w, double measurement_spread);
