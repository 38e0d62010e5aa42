// The long-run monitor's drift: the slope of the loop's delay against
// capture frames over the run, from the delay measured chunk by chunk, with
// an uncertainty that holds when the two clocks wander, not only under the
// measurement's white noise.
//
// The figure is the drift over the run: the delay's change between the
// first and the last 0.1 s stretch's centroid, over their distance. Its
// uncertainty, as an estimate of the clocks' long-term rate, comes from the
// slopes of the 0.1 s stretches (each its own least-squares line): their
// long-run variance, a wander correlated over many slopes leaving them
// correlated, kept in constant memory (the sums of the slopes, of their
// squares and of the products of neighbours one and two apart), the
// measurement's white noise taken out (it is in the centroids only once).
// Each stretch between two reported steps of the rate has its own.
//
// Beside them, batches: the measurements go into monitor_drift_batches
// batches of equal count, each a least-squares line of its own; when all are
// full, neighbours merge pairwise and the count a batch holds doubles, so
// the state stays the same size over hours. Their scatter is the check on
// the AR(1) model: wander slower than it describes (flicker, a temperature
// drift) makes the batches disagree more than the 0.1 s slopes say, and the
// figure is then flagged (wander_slow) and given the batches' interval.
// Pure; the caller owns the state.
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

// The sums over a run of 0.1 s slopes b_j that their autocovariances at
// lags 0, 1 and 2 come from.
struct monitor_drift_moments {
    int64_t n = 0;
    double sum = 0.0, squares = 0.0;       // sum b, b^2
    double lagged = 0.0, lagged2 = 0.0;    // sum b_j b_(j-1), b_j b_(j-2)
    double first = 0.0, second = 0.0;      // b_0, b_1
    double last = 0.0, before_last = 0.0;  // b_(n-1), b_(n-2)
};

// The last slopes, for a step of the rate reported after them.
inline constexpr int monitor_drift_recent = 8;
struct monitor_drift_recent_slope {
    double slope = 0.0, first_t = 0.0, last_t = 0.0;
};

struct monitor_drift {
    std::array<monitor_drift_batch, monitor_drift_batches> batches{};
    int full = 0;              // batches[0 .. full) are full; batches[full] is filling
    int64_t length = 0;        // measurements a batch holds now
    int64_t first_length = 0;  // ... at the start, before any merge: a slope's count (0.1 s)
    // The 0.1 s slopes: the one filling, all of them, and those since the
    // last step of the rate (each stretch between steps its own stationary
    // wander); the stretches closed, by their count times their long-run
    // variance and their effective slopes.
    monitor_drift_batch slope_batch;
    monitor_drift_moments all, segment;
    double closed_variance = 0.0, closed_effective = 0.0;
    int segments = 0;
    std::array<monitor_drift_recent_slope, monitor_drift_recent> recent{};
    int64_t recent_count = 0;  // slopes into it so far (the last monitor_drift_recent kept)
    double slope_span = 0.0;   // the frames the slopes done cover, summed
    // The first slope's centroid and the last's: the drift over the run is the line through them.
    double first_t = 0.0, first_delay = 0.0, last_t = 0.0, last_delay = 0.0;
    // The measurement's own noise, from each slope's residuals: its
    // variance a measurement, and what it gives a slope (summed over them).
    double noise_sum = 0.0, noise_slope_sum = 0.0;
};

struct monitor_drift_figure {
    double ppm = 0.0;                 // the drift over the run x 1e6 (+: the delay grows): the delay's change
                                      // from the first 0.1 s slope's centroid to the last's, over their distance
    double sigma_ppm = -1.0;          // its standard error; -1 before monitor_drift_least_batches 0.1 s slopes
    double interval_ppm = -1.0;       // the 95 % interval's half-width (Student t, the effective slopes - 1 dof)
    double from_t = 0.0, to_t = 0.0;  // the first and the last slope's centroids: the drift is over them
    int64_t slopes = 0;               // the 0.1 s slopes it is the mean of
    int segments = 0;                 // rate steps that parted them
    int batches = 0;                  // the full batches beside it
    double batch_frames = 0.0;        // the slopes' mean span (0.1 s)
    double correlation = 0.0;         // how the slopes' covariance falls from one to the next, phi (0 .. 0.995)
    double correlation_frames = 0.0;  // the wander's correlation time that gives: -spacing / ln phi
    double effective = 0.0;           // slopes as independent ones: n (1 - rho) / (1 + rho)
    bool wander_slow = false;         // a correlation time over a fifth of the run, or the batches disagreeing beyond
                                      // the interval: wander slower than it holds
};

// first_length: measurements in each of the first batches (at least 2).
monitor_drift monitor_drift_make(int64_t first_length);
// Forgets every measurement (the alignment found afresh); the first length stays.
void monitor_drift_restart(monitor_drift& s);
// A step of the rate at frame t (a rate event, reported up to 0.8 s later):
// the slopes before it are a stretch of their own for the long-run
// variance, those after it the next, the one across it in neither (the
// mean stays every slope's).
void monitor_drift_split(monitor_drift& s, double t);
// A measurement: the delay (frames, any jumps already taken out) at frame t.
// t must not decrease.
void monitor_drift_add(monitor_drift& s, double t, double delay);
monitor_drift_figure monitor_drift_estimate(const monitor_drift& s);

// The two-sided 95 % quantile of Student's t with dof degrees of freedom
// (below 1: 1), fractional dof between the whole ones.
double monitor_drift_t95(double dof);
