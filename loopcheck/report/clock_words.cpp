// The rate against the system's clock in the report's words.
#include "loopcheck/report/clock_words.hpp"

#include "loopcheck/report/format.hpp"

std::string report_clock_text(const clock_rate& r)
{
    if (!r.error.empty())
        return "";
    return "clock: " + report_figure("%.3f", r.rate_hz) + " Hz on the system's monotonic clock, " +
           report_figure("%+.2f", r.ppm) + " ± " + report_figure("%.2f", r.ppm_uncertainty) + " ppm over " +
           report_figure("%.1f", r.span_s) + " s (" +
           (r.segments == 1 ? std::string("1 line") : std::to_string(r.segments) + " lines, broken at xruns") + ", " +
           std::to_string(r.points) + " callbacks timed)\n";
}

nlohmann::ordered_json report_clock_json(const clock_rate& r)
{
    if (!r.error.empty())
        return nullptr;
    return {{"rate_hz", r.rate_hz}, {"ppm", r.ppm},           {"ppm_uncertainty", r.ppm_uncertainty},
            {"span_s", r.span_s},   {"segments", r.segments}, {"points", r.points}};
}

namespace {

// The fit's reason, the run's length left out where it was too short.
std::string clock_reason(const clock_rate& r)
{
    return r.error.starts_with("too short") ? "too short (under " + report_figure("%g", clock_rate_least_s) + " s)"
                                            : r.error;
}

}  // namespace

std::string report_clock_cell(const clock_rate& r)
{
    if (!r.error.empty())
        return clock_reason(r);
    return report_figure("%+.2f", r.ppm) + " ± " + report_figure("%.2f", r.ppm_uncertainty) + " ppm";
}

std::string report_clock_figure(const clock_rate& r)
{
    if (!r.error.empty())
        return "";
    return report_figure("%.3f Hz, ", r.rate_hz) + report_figure("%+.2f", r.ppm) + " ± " +
           report_figure("%.2f ppm", r.ppm_uncertainty) + report_figure(" over %.1f s", r.span_s) +
           " — the interface's frames against the system's monotonic clock at each callback (" +
           (r.segments == 1 ? std::string("1 line") : std::to_string(r.segments) + " lines, broken at xruns") + ", " +
           std::to_string(r.points) + " callbacks timed; ± the 95 % interval)";
}

nlohmann::ordered_json report_clock_reason_json(const clock_rate& r)
{
    return r.error.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(clock_reason(r));
}

void report_clock_check(const clock_rate& r, mode_judgement& j)
{
    if (!r.error.empty())
        return;
    mode_check c;
    c.name = "clock_rate_ppm";
    c.value = r.ppm;
    c.unit = "ppm";
    c.direction = check_direction::closer;
    j.checks.push_back(c);
}
