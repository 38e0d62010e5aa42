// The runs' statistics.
#include "analysis/run_statistics.hpp"

#include <algorithm>
#include <cmath>

run_statistics runs_statistics(std::span<const run_report> runs)
{
    run_statistics s;
    if (runs.empty())
        return s;
    s.min = s.max = runs[0].result.latency;
    double gain = 0.0;
    for (const run_report& x : runs) {
        s.mean += x.result.latency;
        gain += std::pow(10.0, x.result.gain_db / 20.0);
        s.min = std::min(s.min, x.result.latency), s.max = std::max(s.max, x.result.latency);
    }
    const double n = static_cast<double>(runs.size());
    s.mean /= n;
    s.gain_db = 20.0 * std::log10(gain / n);
    double squares = 0.0;
    for (const run_report& x : runs)
        squares += (x.result.latency - s.mean) * (x.result.latency - s.mean);
    s.sd = runs.size() > 1 ? std::sqrt(squares / (n - 1.0)) : 0.0;
    // The runs' own uncertainty does not average down where it is the path's
    // (a delay that depends on the frequency): their RMS, or the scatter's
    // standard error of the mean where that is larger.
    double own = 0.0;
    for (const run_report& x : runs)
        own += x.result.latency_uncertainty * x.result.latency_uncertainty;
    s.uncertainty = std::max(std::sqrt(own / n), s.sd / std::sqrt(n));
    return s;
}
