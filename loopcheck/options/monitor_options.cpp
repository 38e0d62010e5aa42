// Parsing the monitor's duration and limits.
#include "loopcheck/options/monitor_options.hpp"

#include <cmath>

#include "loopcheck/options/options.hpp"

namespace {

constexpr double longest_s = 1000.0 * 3600.0;

}  // namespace

std::string monitor_duration_parse(const std::string& text, double& duration_s)
{
    const std::string refused =
        "\"" + text + "\" is not a duration (30s, 10m or 10min, 8h, 1h30m; a bare number is seconds; 0: until Ctrl-C)";
    if (text.empty())
        return refused;
    double total = 0.0, last_unit = INFINITY;
    for (size_t at = 0; at < text.size();) {
        // A decimal number: digits and a point only, so that no sign, exponent,
        // "inf" or "nan" gets through to strtod.
        size_t end = at;
        while (end < text.size() && ((text[end] >= '0' && text[end] <= '9') || text[end] == '.'))
            end++;
        double value = 0.0;
        // The number's own range first, so that "1e999h" is refused, not infinite.
        if (end == at || !options_number(text.substr(at, end - at), 0.0, longest_s, value).empty())
            return refused;
        double unit = 0.0;
        if (text.compare(end, 3, "min") == 0)
            unit = 60.0, end += 3;
        else if (end < text.size() && (text[end] == 'h' || text[end] == 'm' || text[end] == 's'))
            unit = text[end] == 'h' ? 3600.0 : text[end] == 'm' ? 60.0 : 1.0, end++;
        else if (at == 0 && end == text.size())
            unit = 1.0;  // a bare number: seconds
        // Each unit once, the largest first: "1h30" and "30m1h" are refused, not guessed.
        if (unit == 0.0 || unit >= last_unit)
            return refused;
        last_unit = unit;
        total += value * unit;
        at = end;
    }
    duration_s = total;
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
