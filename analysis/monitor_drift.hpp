// The long-run monitor's drift: the long-term slope of the loop's delay
// against capture frames, from the delay measured chunk by chunk, with an
// uncertainty that holds when the two clocks wander, not only under the
// measurement's white noise. Batch means: the measurements go into
// monitor_drift_batches batches of equal count, each a least-squares line of
// its own; when all are full, neighbours merge pairwise and the count a batch
// holds doubles, so the state stays the same size over hours. Pure; the
// caller owns the state.
#pragma once
#include <array>
#include <cstdint>

inline constexpr int monitor_drift_batches = 16;       // even: they merge in pairs
inline constexpr int monitor_drift_least_batches = 8;  // full batches before there is an uncertainty

// One batch's line: its count, its means and its co-moments about them
// (Welford's, so that hours of frames lose no digits), and its first and
// last frame.
struct monitor_drift_batch {
    int64_t n = 0;
    double mean_t = 0.0, mean_delay = 0.0;
    double tt = 0.0, td = 0.0, dd = 0.0;
    double first_t = 0.0, last_t = 0.0;
};

struct monitor_drift {
    std::array<monitor_drift_batch, monitor_drift_batches> batches{};
    int full = 0;              // batches[0 .. full) are full; batches[full] is filling
    int64_t length = 0;        // measurements a batch holds now
    int64_t first_length = 0;  // ... at the start, before any merge
};

struct monitor_drift_figure {
    double ppm = 0.0;            // the long-term slope x 1e6 (+: the delay grows)
    double sigma_ppm = -1.0;     // its standard error; -1 before monitor_drift_least_batches are full
    double interval_ppm = -1.0;  // the 95 % interval's half-width (Student t, batches - 1 degrees of freedom)
    int batches = 0;             // the full batches the figure comes from
    double batch_frames = 0.0;   // their mean span: wander much slower than this is not in sigma_ppm
};

// first_length: measurements in each of the first batches (at least 2).
monitor_drift monitor_drift_make(int64_t first_length);
// Forgets every measurement (the alignment found afresh); the first length stays.
void monitor_drift_restart(monitor_drift& s);
// A measurement: the delay (frames, any jumps already taken out) at frame t.
// t must not decrease.
void monitor_drift_add(monitor_drift& s, double t, double delay);
monitor_drift_figure monitor_drift_estimate(const monitor_drift& s);

// The two-sided 95 % quantile of Student's t with dof degrees of freedom,
// 1 .. monitor_drift_batches - 1 (beyond, the last of them: on the safe side).
double monitor_drift_t95(int dof);
