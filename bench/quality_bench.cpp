// Cost of the quality battery's analysis: every segment of two loops, each
// capture a digital loop of its stimulus, at 48 and 192 kHz (state.range(0)).
// What it costs on the main thread once the battery has played, and the
// plan's stimuli computed before the stream starts.
#include <benchmark/benchmark.h>

#include <vector>

#include "analysis/quality_figures.hpp"

namespace {

void BM_quality_analyse(benchmark::State& state)
{
    const quality_plan p = quality_plan_make(static_cast<double>(state.range(0)), 2);
    std::vector<std::vector<float>> stimuli;
    for (const quality_segment& s : p.segments)
        stimuli.push_back(quality_plan_stimulus(p, s));
    std::vector<quality_segment_captures> captures;
    for (const std::vector<float>& x : stimuli)
        captures.push_back({x, x});
    for (auto _ : state)
        benchmark::DoNotOptimize(quality_analyse(p, captures));
}
BENCHMARK(BM_quality_analyse)->Arg(48000)->Arg(192000)->Unit(benchmark::kMillisecond);

void BM_quality_stimuli(benchmark::State& state)
{
    const quality_plan p = quality_plan_make(static_cast<double>(state.range(0)), 2);
    for (auto _ : state)
        for (const quality_segment& s : p.segments)
            benchmark::DoNotOptimize(quality_plan_stimulus(p, s));
}
BENCHMARK(BM_quality_stimuli)->Arg(48000)->Arg(192000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
