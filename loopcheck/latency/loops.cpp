// Stimuli for several loops, and their latencies one loop after the other.
#include "loopcheck/latency/loops.hpp"

#include <cstdio>

#include "loopcheck/outcome/verdict.hpp"

std::vector<float> loops_interleave(std::span<const float> mono, int loops, int driven)
{
    std::vector<float> clip(mono.size() * static_cast<size_t>(loops), 0.0f);
    loops_place(clip, loops, 0, mono, driven);
    return clip;
}

void loops_place(std::span<float> clip, int loops, int64_t first, std::span<const float> mono, int driven)
{
    for (size_t i = 0; i < mono.size(); i++)
        for (int k = 0; k < loops; k++)
            if (driven < 0 || k == driven)
                clip[(static_cast<size_t>(first) + i) * static_cast<size_t>(loops) + static_cast<size_t>(k)] = mono[i];
}

void loops_measure(check_report& r, stream_state& s, runs_setup setup, const capture_wait& wait,
                   void (*on_run)(const check_report&, size_t))
{
    const check_options& o = r.options;
    const bool many = o.out_channels.size() > 1;
    setup.loop = 0;
    runs_measure(r, s, setup, wait, on_run);
    if (many && r.latency.failure != check_status::ok && r.latency.failure != check_status::interrupted)
        r.latency.reason = verdict_loop_name(o, 0) + ": " + r.latency.reason;
    for (size_t k = 1; k < o.out_channels.size() && r.latency.failure == check_status::ok; k++) {
        // The loop's own report: the same options and stream, its own runs and end.
        check_report loop;
        loop.options = o, loop.rate = r.rate, loop.host_api = r.host_api;
        loop.input_latency_frames = r.input_latency_frames, loop.output_latency_frames = r.output_latency_frames;
        setup.loop = static_cast<int>(k);
        runs_measure(loop, s, setup, wait, nullptr);
        r.loops.push_back({o.out_channels[k], o.in_channels[k], loop.runs});
        if (loop.latency.failure == check_status::ok)
            continue;
        r.latency.failure = loop.latency.failure;
        r.latency.reason = loop.latency.failure == check_status::interrupted
                               ? loop.latency.reason
                               : verdict_loop_name(o, k) + ": " + loop.latency.reason;
    }
}
