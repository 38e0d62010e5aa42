// Cost of the quality battery's analysis: every segment of two loops, each
// loop's capture a digital loop of its own stimulus, at 48 and 192 kHz
// (state.range(0)).
// What it costs on the main thread once the battery has played, and the
// plan's stimuli computed before the stream starts.
#include <benchmark/benchmark.h>

#include <vector>

#include "analysis/quality_figures.hpp"

namespace {

// Each segment's stimuli, one per loop, as the loops' captures: computed
// once where every loop plays the same, as loopcheck does.
std::vector<std::vector<std::vector<float>>> qb_stimuli(const quality_plan& p)
{
    std::vector<std::vector<std::vector<float>>> stimuli;
    for (const quality_segment& s : p.segments) {
        stimuli.emplace_back();
        for (int loop = 0; loop < p.loops; loop++)
            stimuli.back().push_back(loop > 0 && s.loop_tones.empty() ? stimuli.back().front()
                                                                      : quality_plan_stimulus(p, s, loop));
    }
    return stimuli;
}

std::vector<quality_segment_captures> qb_captures(const std::vector<std::vector<std::vector<float>>>& stimuli)
{
    std::vector<quality_segment_captures> captures;
    for (const std::vector<std::vector<float>>& x : stimuli)
        captures.emplace_back(x.begin(), x.end());
    return captures;
}

void BM_quality_analyse(benchmark::State& state)
{
    const quality_plan p = quality_plan_make(static_cast<double>(state.range(0)), 2);
    const std::vector<std::vector<std::vector<float>>> stimuli = qb_stimuli(p);
    const std::vector<quality_segment_captures> captures = qb_captures(stimuli);
    for (auto _ : state)
        benchmark::DoNotOptimize(quality_analyse(p, captures));
}
BENCHMARK(BM_quality_analyse)->Arg(48000)->Arg(192000)->Unit(benchmark::kMillisecond);

void BM_quality_stimuli(benchmark::State& state)
{
    const quality_plan p = quality_plan_make(static_cast<double>(state.range(0)), 2);
    for (auto _ : state)
        benchmark::DoNotOptimize(qb_stimuli(p));
}
BENCHMARK(BM_quality_stimuli)->Arg(48000)->Arg(192000)->Unit(benchmark::kMillisecond);

// The whole battery's cost to the program for two loops: its plan and
// stimuli before the stream starts, then the analysis of every segment; the
// time it plays for (the plan's frames at the rate, replays aside) as the
// counter battery_s, against which Time and CPU are what loopcheck's main
// thread adds. The callback's share is a copy per frame.
void BM_quality_battery(benchmark::State& state)
{
    const double rate = static_cast<double>(state.range(0));
    double seconds = 0.0;
    for (auto _ : state) {
        const quality_plan p = quality_plan_make(rate, 2);
        const std::vector<std::vector<std::vector<float>>> stimuli = qb_stimuli(p);
        benchmark::DoNotOptimize(quality_analyse(p, qb_captures(stimuli)));
        seconds = static_cast<double>(quality_plan_frames(p)) / rate;
    }
    state.counters["battery_s"] = seconds;
}
BENCHMARK(BM_quality_battery)->Arg(48000)->Arg(192000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
