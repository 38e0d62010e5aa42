// Decimation, bounded series, capped marks and the 1-2-5 histogram.
#include "analysis/series.hpp"

#include <algorithm>
#include <cmath>

void series_decimate_log(std::span<const double> x, std::span<const double> y, double low, double high, size_t bins,
                         std::vector<double>& out_x, std::vector<double>& out_y)
{
    if (!(low > 0.0) || !(high > low) || bins == 0)
        return;
    const double per_bin = std::log(high / low) / static_cast<double>(bins);
    size_t current = bins;  // none yet
    double best_x = 0.0, best_y = 0.0;
    const auto flush = [&] {
        if (current < bins)
            out_x.push_back(best_x), out_y.push_back(best_y);
    };
    for (size_t i = 0; i < x.size() && i < y.size(); i++) {
        if (!(x[i] >= low && x[i] < high) || std::isnan(y[i]))
            continue;
        const size_t bin = std::min(bins - 1, static_cast<size_t>(std::log(x[i] / low) / per_bin));
        if (bin != current) {
            flush();
            current = bin, best_x = x[i], best_y = y[i];
        } else if (y[i] > best_y) {
            best_x = x[i], best_y = y[i];
        }
    }
    flush();
}

series series_make(size_t capacity, double span)
{
    series s;
    s.capacity = std::max<size_t>(2, capacity + capacity % 2);
    s.span = span > 0.0 && std::isfinite(span) ? span : 1.0;
    s.buckets.reserve(s.capacity);
    return s;
}

namespace {

// Neighbours in pairs into one bucket of twice the span.
void merge_pairs(series& s)
{
    const size_t half = (s.buckets.size() + 1) / 2;
    for (size_t j = 0; j < half; j++) {
        series_bucket merged = s.buckets[2 * j];
        if (2 * j + 1 < s.buckets.size()) {
            const series_bucket& b = s.buckets[2 * j + 1];
            if (b.used && merged.used) {
                if (b.min < merged.min)
                    merged.min = b.min, merged.t_min = b.t_min;
                if (b.max > merged.max)
                    merged.max = b.max, merged.t_max = b.t_max;
            } else if (b.used) {
                merged = b;
            }
        }
        s.buckets[j] = merged;
    }
    s.buckets.resize(half);
    s.span *= 2.0;
}

}  // namespace

void series_add(series& s, double t, double v)
{
    if (!std::isfinite(t) || !std::isfinite(v) || t < 0.0)
        return;
    while (std::floor(t / s.span) >= static_cast<double>(s.capacity))
        merge_pairs(s);
    const size_t j = static_cast<size_t>(t / s.span);
    if (j >= s.buckets.size())
        s.buckets.resize(j + 1);
    series_bucket& b = s.buckets[j];
    if (!b.used)
        b = {v, v, t, t, true};
    else if (v < b.min)
        b.min = v, b.t_min = t;
    else if (v > b.max)
        b.max = v, b.t_max = t;
    s.points++;
}

void series_marks_add(series_marks& m, double t)
{
    if (m.t.size() < m.capacity)
        m.t.push_back(t);
    m.count++;
}

namespace {

constexpr double steps[] = {1.0, 2.0, 5.0};
// 1-2-5 from 0.01 to 1e6: eight decades, three edges each, and the last.
constexpr size_t edge_count = 3 * 8 + 1;

}  // namespace

size_t series_histogram_bins() { return edge_count - 1; }

double series_histogram_edge(size_t i)
{
    // A whole power of ten over 100: the edge is the double nearest its decimal.
    return steps[i % 3] * std::pow(10.0, static_cast<double>(i / 3)) / 100.0;
}

size_t series_histogram_bin_of(double length)
{
    size_t bin = 0;
    while (bin + 1 < series_histogram_bins() && length >= series_histogram_edge(bin + 1))
        bin++;
    return bin;
}

void series_histogram_add(series_histogram& h, double length)
{
    if (std::isnan(length))
        return;
    h.counts.resize(series_histogram_bins());
    h.counts[series_histogram_bin_of(length)]++;
}
