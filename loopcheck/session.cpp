// The session: PortAudio, devices, stream, runs, verdict, and one teardown.
#include "loopcheck/session.hpp"

#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "analysis/sweep.hpp"
#include "loopcheck/io/stream.hpp"
#include "loopcheck/io/stream_wait.hpp"
#include "loopcheck/latency/loops.hpp"
#include "loopcheck/latency/runs.hpp"
#include "loopcheck/monitor/monitor_run.hpp"
#include "loopcheck/quality/quality_run.hpp"
#include "loopcheck/session_plans.hpp"
#include "loopcheck/verdict/verdict.hpp"

std::atomic<bool> session_interrupted{false};

namespace {

void failure(check_report& r, const std::string& message)
{
    r.setup.failure = check_status::error, r.setup.reason = message;
}

// A mode that threw (the analysis refusing its input, memory run out): its
// end is an error with the exception's words, and the session goes on to its
// teardown as from any other end.
template <typename Mode>
void guarded(mode_end& end, const char* name, Mode&& mode)
{
    try {
        mode();
    } catch (const std::exception& e) {
        end.failure = check_status::error;
        end.reason = std::string(name) + ": " + e.what();
    }
}

// The stream's facts into the report.
void facts_take(check_report& r, const stream_facts& f)
{
    r.host_api = f.host_api;
    r.out_device = f.out_device, r.in_device = f.in_device;
    r.out_name = f.out_name, r.in_name = f.in_name;
    r.rate = f.rate;
    r.input_is_monitor = f.input_is_monitor;
}

}  // namespace

void session_run(check_report& r, const session_hooks& hooks)
{
    std::string problem;
    const stream_ptr opened = stream_open(stream_request_of(r.options), problem);
    stream& s = *opened;
    facts_take(r, stream_facts_of(s));
    if (!problem.empty())
        return failure(r, problem);
    const int loops = stream_facts_of(s).loops;
    const double amplitude = std::pow(10.0, r.options.level_dbfs / 20.0);
    // The sweeps play on every loop at once; each loop's capture is analysed against the one sweep.
    const std::vector<float> short_sweep = sweep_make(sweep_frames(r.rate, false), r.rate, amplitude);
    const std::vector<float> long_sweep = sweep_make(sweep_frames(r.rate, true), r.rate, amplitude);
    const std::vector<float> response_sweep = sweep_make(sweep_frames_response(r.rate), r.rate, amplitude);
    runs_setup setup;
    setup.short_clip = stream_clip_add(s, stream_clip_loops(short_sweep, loops));
    setup.long_clip = stream_clip_add(s, stream_clip_loops(long_sweep, loops));
    setup.response_clip = stream_clip_add(s, stream_clip_loops(response_sweep, loops));
    // Room for the longest run twice over, its lead and its tail included.
    const int64_t longest = std::lrint((r.options.max_delay_s + r.options.settle_s + 1.0) * r.rate) +
                            static_cast<int64_t>(long_sweep.size()) + capture_tail(r.rate, true);
    stream_ring_need(s, 2 * longest);
    quality_clips quality;
    if (r.options.quality) {
        r.quality.plan = quality_plan_make(r.rate, loops);
        if (!r.quality.plan.error.empty())
            return failure(r, r.quality.plan.error);
        quality = quality_run_clips(s, r.quality.plan);
        stream_ring_need(s, quality_run_ring_frames(r.quality.plan, std::lrint(r.options.max_delay_s * r.rate)));
    }
    // --monitor: its stimulus as a clip of its own, and a ring of 4 s at least.
    monitor_stimulus stimulus;
    if (r.options.monitor.on)
        guarded(r.watch, "--monitor", [&] { stimulus = monitor_stimulus_design(r.rate, monitor_default_level_dbfs); });
    const bool monitor = r.options.monitor.on && r.watch.failure == check_status::ok;
    int monitor_clip = -1;
    if (monitor) {
        monitor_clip = stream_clip_add(s, monitor_clip_make(stimulus), true);
        stream_ring_need(s, monitor_ring_frames(r.rate));
    }
    problem = stream_start(s);
    r.input_latency_frames = stream_facts_of(s).input_latency_frames;
    r.output_latency_frames = stream_facts_of(s).output_latency_frames;
    if (!problem.empty())
        return failure(r, problem);

    setup.short_sweep = short_sweep, setup.long_sweep = long_sweep, setup.response_sweep = response_sweep;
    setup.interrupted = &session_interrupted;
    setup.stall_advice = stream_facts_of(s).stall_advice;
    const stream_pace pace = stream_pace_system();
    const capture_wait wait = [&s, &pace](int64_t until) {
        return stream_wait_frames(s, until, session_interrupted, pace);
    };
    guarded(r.latency, "the latency", [&] {
        outcome_take(r, loops_measure(s, latency_plan_of(r), setup, wait, hooks.on_run, r.options.out_channels,
                                      r.options.in_channels));
    });
    if (r.latency.failure == check_status::error)
        r.latency.reason += stream_host_words(s);
    // The battery and the monitor only on loops that are there, hold still and are the cable.
    if (r.options.quality && verdict_blocker(r, false).empty())
        guarded(r.battery, "--quality", [&] {
            if (hooks.on_battery)
                hooks.on_battery(r);
            outcome_take(r, quality_run_measure(s, battery_plan_of(r), quality, wait, &session_interrupted));
        });
    r.buffer_granted = stream_largest_buffer(s);
    if (monitor && verdict_blocker(r, true).empty() && !session_interrupted.load())
        guarded(r.watch, "--monitor", [&] {
            // --buffers' soak under --load: the callback busy for its share of every call meanwhile.
            stream_load(s, r.options.sweep.load_percent / 100.0);
            monitor_outcome m =
                monitor_run(s, monitor_plan_of(r),
                            {monitor_clip, &stimulus, &session_interrupted, setup.stall_advice, pace, hooks.monitor});
            stream_load(s, 0.0);
            r.watch = std::move(m.end), r.monitor = std::move(m.trace), r.monitor_end = m.progress;
        });
    r.buffer_granted = stream_largest_buffer(s);
}
