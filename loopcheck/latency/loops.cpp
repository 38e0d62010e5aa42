// The latencies of several loops, one loop after the other.
#include "loopcheck/latency/latency.hpp"

#include <string>
#include <utility>

namespace {

// "loop 2 (out 2, in 1): why", when the plan names the loops.
std::string named(const runs_plan& p, size_t k, const std::string& why)
{
    return k < p.loop_names.size() ? p.loop_names[k] + ": " + why : why;
}

}  // namespace

runs_outcome loops_measure(stream& s, const runs_plan& p, runs_setup setup, const capture_wait& wait,
                           const runs_hook& on_run, std::span<const int64_t> out_channels,
                           std::span<const int64_t> in_channels)
{
    setup.loop = 0;
    runs_outcome out = runs_measure(s, p, setup, wait, on_run);
    if (out.end.failure != check_status::ok && out.end.failure != check_status::interrupted)
        out.end.reason = named(p, 0, out.end.reason);
    for (size_t k = 1; k < out_channels.size() && out.end.failure == check_status::ok; k++) {
        setup.loop = static_cast<int>(k);
        runs_outcome loop = runs_measure(s, p, setup, wait, nullptr);
        out.facts.loops.push_back({out_channels[k], in_channels[k], std::move(loop.facts.runs)});
        if (loop.end.failure == check_status::ok)
            continue;
        out.end.failure = loop.end.failure;
        out.end.reason = loop.end.failure == check_status::interrupted ? loop.end.reason : named(p, k, loop.end.reason);
    }
    return out;
}
