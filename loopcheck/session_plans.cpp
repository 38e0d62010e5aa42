// Each mode's plan from the command line and what the modes before it found.
#include "loopcheck/session_plans.hpp"

#include "loopcheck/verdict/verdict.hpp"

stream_request stream_request_of(const check_options& o)
{
    static_assert(stream_max_loops == options_max_loops);
    return {o.device, o.in_device, o.out_device, o.out_channels, o.in_channels, o.rate, o.buffer, o.monitor.on};
}

latency_plan latency_plan_of(const check_report& r)
{
    const check_options& o = r.options;
    latency_plan p;
    p.rate = r.rate, p.repeat = o.repeat;
    p.max_delay_s = o.max_delay_s, p.settle_s = o.settle_s;
    p.response = !o.response_file.empty();
    // The report draws the response too, from whichever sweep the run had: its noise is wanted as well.
    p.rows = p.response || !o.report_file.empty();
    if (o.out_channels.size() > 1)
        for (size_t k = 0; k < o.out_channels.size(); k++)
            p.loop_names.push_back(verdict_loop_name(o, k));
    for (const int64_t channel : o.in_channels)
        p.inputs.push_back("input " + std::to_string(channel) + " of \"" + r.in_name + "\"");
    p.host_api = r.host_api;
    return p;
}

battery_plan battery_plan_of(const check_report& r)
{
    battery_plan p{r.quality.plan, {outcome_statistics(r).mean}, r.options.limits.items};
    for (const loop_runs& l : r.loops)
        p.latency_frames.push_back(runs_statistics(l.runs).mean);
    return p;
}

monitor_plan monitor_plan_of(const check_report& r)
{
    return {r.options.monitor.duration_s, r.options.monitor.save_dir, monitor_loop_of(r.runs), r.rate};
}
