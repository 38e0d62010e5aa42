// Parsing the buffer sweep's sizes, soak, load and gate.
#include "loopcheck/options/sweep_options.hpp"

#include <algorithm>
#include <cmath>

#include "loopcheck/options/option_table.hpp"
#include "loopcheck/options/option_values.hpp"

std::string sweep_sizes_parse(const std::string& text, sweep_settings& s)
{
    s.sizes.clear();
    s.all = text == "all";
    if (s.all)
        return "";
    const option_row* row = option_row_of("--buffers");
    const std::string what = " (a list of buffer sizes in frames, " + option_bounds_text(*row) + ", or all)";
    if (text.empty())
        return "a list with nothing in it" + what;
    size_t from = 0;
    for (;;) {
        const size_t comma = text.find(',', from);
        const std::string item = text.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        double value = 0.0;
        std::string problem = options_number(item, row->min, row->max, value);
        if (problem.empty() && value != std::floor(value))
            problem = "\"" + item + "\" is not a whole number of frames";
        if (!problem.empty())
            return problem + what;
        const auto size = static_cast<int64_t>(value);
        if (std::find(s.sizes.begin(), s.sizes.end(), size) != s.sizes.end())
            return std::to_string(size) + " named twice";
        s.sizes.push_back(size);
        if (comma == std::string::npos)
            return "";
        from = comma + 1;
    }
}

std::string sweep_options_read(const sweep_texts& t, sweep_settings& s)
{
    if (t.buffers_given) {
        const std::string problem = sweep_sizes_parse(t.buffers, s);
        if (!problem.empty())
            return "--buffers: " + problem;
        s.on = true;
    }
    if (!t.soak.empty()) {
        // A duration as --monitor takes it (10, 30s, 2m), but never 0 (every
        // size ends) nor so short that the soak would check next to nothing.
        const option_row* row = option_row_of("--soak");
        std::string problem = options_duration(t.soak, s.soak_s);
        if (problem.empty() && (s.soak_s < row->min || s.soak_s > row->max))
            problem = "\"" + t.soak + "\" is outside " + option_bounds_text(*row) +
                      " (a soak checks the loop from some 0.6 s after it starts)";
        if (!problem.empty())
            return "--soak: " + problem;
    }
    if (!t.load.empty()) {
        const option_row* row = option_row_of("--load");
        const std::string problem = options_number(t.load, row->min, row->max, s.load_percent);
        if (!problem.empty())
            return "--load: " + problem + " (percent of every period)";
    }
    if (!t.max_latency.empty()) {
        const option_row* row = option_row_of("--max-latency-ms");
        const std::string problem = options_number(t.max_latency, row->min, row->max, s.max_latency_ms);
        if (!problem.empty())
            return "--max-latency-ms: " + problem;
    }
    if (!s.on && (!t.soak.empty() || !t.load.empty() || !t.max_latency.empty()))
        return "--soak, --load and --max-latency-ms go with --buffers";
    return "";
}
