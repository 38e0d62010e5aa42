// The record's own figures.
#include "loopcheck/verdict/check_report.hpp"

#include <utility>

void outcome_take(check_report& r, latency_outcome&& latency)
{
    r.latency = std::move(latency.end);
    static_cast<latency_facts&>(r) = std::move(latency.facts);
}

void outcome_take(check_report& r, battery_outcome&& battery)
{
    r.battery = std::move(battery.end);
    r.quality = std::move(battery.quality);
}

run_statistics outcome_statistics(const check_report& report) { return runs_statistics(report.runs); }

double outcome_reported_frames(const check_report& r) { return r.input_latency_frames + r.output_latency_frames; }

bool outcome_reported_known(const check_report& r)
{
    const double most = 10.0 * r.rate;
    return r.input_latency_frames >= 0.0 && r.output_latency_frames >= 0.0 && r.input_latency_frames <= most &&
           r.output_latency_frames <= most;
}
