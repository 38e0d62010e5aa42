// The outcome's own figures.
#include "loopcheck/outcome/outcome.hpp"

run_statistics outcome_statistics(const check_report& report) { return runs_statistics(report.runs); }

double outcome_reported_frames(const check_report& r) { return r.input_latency_frames + r.output_latency_frames; }

bool outcome_reported_known(const check_report& r)
{
    const double most = 10.0 * r.rate;
    return r.input_latency_frames >= 0.0 && r.output_latency_frames >= 0.0 && r.input_latency_frames <= most &&
           r.output_latency_frames <= most;
}
