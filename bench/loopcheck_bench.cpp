// Costs of loopcheck: the callback per frame (it copies the sweep out and the
// capture in), and the analysis of one run's capture on the main thread.
#include <benchmark/benchmark.h>

#include <vector>

#include "analysis/analyse.hpp"
#include "analysis/sweep.hpp"
#include "loopcheck/io/stream_state.hpp"

namespace {

constexpr double rate = 48000.0;

// state.range(0): frames per callback; state.range(1): channels each way.
void BM_loopcheck_callback(benchmark::State& state)
{
    const int64_t frames = state.range(0), channels = state.range(1);
    stream_state s;
    s.clips.push_back({sweep_make(sweep_frames(rate, false), rate, 0.25), true});
    s.out_channels = s.in_channels = static_cast<int>(channels);
    s.out_channel[0] = s.in_channel[0] = static_cast<int>(channels - 1);
    stream_prepare(s, 1 << 20);
    stream_schedule(s, 0, 0);
    std::vector<float> in(frames * channels, 0.1f), out(frames * channels);
    for (auto _ : state) {
        // The sweep loops, so that every call plays part of it.
        stream_callback(in.data(), out.data(), static_cast<unsigned long>(frames), nullptr, 0, &s);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * frames);
}
BENCHMARK(BM_loopcheck_callback)->Args({1, 1})->Args({64, 1})->Args({256, 1})->Args({256, 2})->Args({1024, 8});

// One run's analysis: a loop of delay frames at 48000 Hz, captured until its
// answer is certain (the peak, the sweep and 125 ms).
void BM_loopcheck_analysis(benchmark::State& state)
{
    const std::vector<float> sweep = sweep_make(sweep_frames(rate, false), rate, 0.25);
    const int64_t delay = state.range(0), frames = delay + static_cast<int64_t>(sweep.size()) + 6000;
    std::vector<float> capture(frames, 0.0f);
    for (size_t n = 0; n < sweep.size(); n++)
        capture[delay + n] = sweep[n];
    for (auto _ : state) {
        const impulse_response r = deconvolve(sweep, capture, rate);
        benchmark::DoNotOptimize(analyse_run(r, sweep, capture, frames - sweep.size()));
    }
}
BENCHMARK(BM_loopcheck_analysis)->Arg(600)->Arg(8192)->Arg(96000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
