// Bounded data for the report's long or dense curves, filled as a mode runs:
// a spectrum cut to a few points per log-spaced bin keeping its peaks, a
// time series that keeps its memory fixed however long the run (buckets of
// min and max that merge in pairs when full), a capped list of marks with
// their count, and a histogram of lengths on 1-2-5 edges.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Of the points (x[i], y[i]) (x ascending) with low <= x < high, the one with
// the largest y in each of `bins` log-spaced bins from low to high, in x
// order, appended to out_x and out_y; empty bins give nothing. A y that is
// not a number never wins a bin.
void series_decimate_log(std::span<const double> x, std::span<const double> y, double low, double high, size_t bins,
                         std::vector<double>& out_x, std::vector<double>& out_y);

// A series of (t, v), t ascending from 0, in at most `capacity` buckets of
// `span` each: bucket j holds t in [j span, (j + 1) span) by its min and max
// and their times.
// When a t falls beyond the last bucket, neighbours merge in pairs and span
// doubles, as often as needed: an 8-hour run at one point a second in 4096
// buckets ends with span 8 s.
struct series_bucket {
    double min = 0.0, max = 0.0;
    double t_min = 0.0, t_max = 0.0;  // where they were (the first of equals)
    bool used = false;
};
struct series {
    size_t capacity = 4096;
    double span = 1.0;
    std::vector<series_bucket> buckets;  // index: t / span; grows to capacity at most
    int64_t points = 0;
};

// An empty series of `capacity` buckets (even, at least 2) of `span` (> 0).
series series_make(size_t capacity, double span);
// Adds v at t (t >= 0, not before the last t; a value that is not finite is skipped).
void series_add(series& s, double t, double v);

// Marks at times, the first `capacity` kept, every one counted.
struct series_marks {
    size_t capacity = 2000;
    std::vector<double> t;
    int64_t count = 0;
};
void series_marks_add(series_marks& m, double t);

// A histogram of lengths on the edges 1, 2, 5 x 10^n from series_histogram_low
// to series_histogram_high: bin i holds [edge(i), edge(i + 1)); a length under
// the first edge counts in the first bin, one at or beyond the last edge in the last.
inline constexpr double series_histogram_low = 0.01, series_histogram_high = 1e6;
struct series_histogram {
    std::vector<int64_t> counts;  // series_histogram_bins() of them, once one is added
};
size_t series_histogram_bins();
double series_histogram_edge(size_t i);
size_t series_histogram_bin_of(double length);
void series_histogram_add(series_histogram& h, double length);
