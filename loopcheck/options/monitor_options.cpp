// Parsing the monitor's duration and limits.
#include "loopcheck/options/monitor_options.hpp"

#include <cmath>

#include "loopcheck/options/options.hpp"

namespace {

constexpr double longest_s = 1000.0 * 3600.0;

}  // namespace

std::string monitor_duration_parse(const std::string& text, double& duration_s)
{
    const char unit = text.empty() ? '\0' : text.back();
    const double scale = unit == 'h' ? 3600.0 : unit == 'm' ? 60.0 : 1.0;
    const bool has_unit = unit == 'h' || unit == 'm' || unit == 's';
    const std::string number = has_unit ? text.substr(0, text.size() - 1) : text;
    double value = 0.0;
    // The number's own range first, so that "1e999h" is refused, not infinite.
    std::string problem = options_number(number, 0.0, longest_s, value);
    if (!problem.empty())
        return "\"" + text + "\" is not a duration (30s, 10m, 8h, or 0 for until Ctrl-C)";
    duration_s = value * scale;
    if (duration_s != 0.0 && (duration_s < 1.0 || duration_s > longest_s))
        return "\"" + text + "\" is outside 1 s to 1000 h (or 0 for until Ctrl-C)";
    return "";
}

std::string monitor_options_read(const monitor_texts& t, monitor_settings& m)
{
    if (!t.duration.empty()) {
        const std::string problem = monitor_duration_parse(t.duration, m.duration_s);
        if (!problem.empty())
            return "--monitor: " + problem;
        m.on = true;
    }
    if (!t.max_glitches.empty()) {
        double n = 0.0;
        const std::string problem = options_number(t.max_glitches, 0.0, 1e9, n);
        if (!problem.empty() || n != std::floor(n))
            return "--max-glitches: " +
                   (problem.empty() ? "\"" + t.max_glitches + "\" is not a whole number" : problem);
        m.max_glitches = static_cast<int64_t>(n);
    }
    if (!t.max_drift.empty()) {
        const std::string problem = options_number(t.max_drift, 0.0, 1e6, m.max_drift_ppm);
        if (!problem.empty())
            return "--max-drift: " + problem;
    }
    if (!m.on && (m.max_glitches >= 0 || m.max_drift_ppm >= 0.0 || !m.save_dir.empty()))
        return "--max-glitches, --max-drift and --save-glitches go with --monitor";
    return "";
}
