// Parsing the monitor's duration and limits, each against its row's range.
#include "loopcheck/options/monitor_options.hpp"

#include <cmath>

#include "loopcheck/options/option_table.hpp"
#include "loopcheck/options/option_values.hpp"

std::string monitor_duration_parse(const std::string& text, double& duration_s)
{
    const std::string problem = options_duration(text, duration_s);
    if (!problem.empty())
        return problem;
    const option_row* row = option_row_of("--monitor");
    if (duration_s != 0.0 && (duration_s < row->min || duration_s > row->max))
        return "\"" + text + "\" is outside " + option_bounds_text(*row) + " (or 0 for until Ctrl-C)";
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
        const option_row* row = option_row_of("--max-glitches");
        double n = 0.0;
        const std::string problem = options_number(t.max_glitches, row->min, row->max, n);
        if (!problem.empty() || n != std::floor(n))
            return "--max-glitches: " +
                   (problem.empty() ? "\"" + t.max_glitches + "\" is not a whole number" : problem);
        m.max_glitches = static_cast<int64_t>(n);
    }
    if (!t.max_drift.empty()) {
        const option_row* row = option_row_of("--max-drift");
        const std::string problem = options_number(t.max_drift, row->min, row->max, m.max_drift_ppm);
        if (!problem.empty())
            return "--max-drift: " + problem;
    }
    if (!m.on && (m.max_glitches >= 0 || m.max_drift_ppm >= 0.0 || !m.save_dir.empty()))
        return "--max-glitches, --max-drift and --save-glitches go with --monitor";
    return "";
}
