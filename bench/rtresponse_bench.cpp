// Costs of the real-time analyser: the per-frame callback with and without its
// 8 KiB publication copy (against a bare copy of the same size), the analysis of
// one refresh, and one display refresh into a memory framebuffer.
#include <benchmark/benchmark.h>

#include <cstring>

#include "display/display.hpp"
#include "display/hooks.hpp"
#include "dsp/fft.hpp"
#include "dsp/filters.hpp"
#include "frame/handshake.hpp"
#include "rtresponse/analysis.hpp"
#include "rtresponse/capture.hpp"
#include "rtresponse/display.hpp"
#include "rtresponse/scale.hpp"
#include "rtresponse/state.hpp"
#include "rtresponse/sweep.hpp"

namespace {

using namespace rtresponse;

// Program start: FFT tables, sweep, and the clearing first call behind us.
void analyser_ready(int64_t loopback)
{
    rtresponse::state_reset();
    loopback_filters_reset();
    snapshot_reset();
    fft_2048(spectrum_re, spectrum_im, -1, 1);
    build_sweep_table();
    loopback_mode = loopback;
    float in[2] = {0.0f, 0.0f}, out[2];
    analyser_callback(in, out, 1, nullptr, 0, nullptr);
}

// state.range(0): snapshot_frozen (0 publishes on every call, 1 does not);
// state.range(1): loopback_mode.
void BM_analyser_callback(benchmark::State& state)
{
    analyser_ready(state.range(1));
    snapshot_frozen.store(state.range(0));
    float in[2] = {0.25f, 0.0f}, out[2];
    for (auto _ : state) {
        analyser_callback(in, out, 1, nullptr, 0, nullptr);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    snapshot_reset();
}
BENCHMARK(BM_analyser_callback)
    ->ArgNames({"frozen", "loopback"})
    ->Args({0, -1})
    ->Args({1, -1})
    ->Args({0, 0})
    ->Args({1, 0});

// The publication copy alone: 2048 floats, 8 KiB.
void BM_memcpy_8k(benchmark::State& state)
{
    static float source[2048] = {}, target[2048] = {};
    for (auto _ : state) {
        std::memcpy(target, source, sizeof(target));
        benchmark::DoNotOptimize(target);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(sizeof(target)));
}
BENCHMARK(BM_memcpy_8k);

// Four periods of the software loopback captured and published, the snapshot
// then frozen: what a refresh analyses.
void capture_loopback_periods()
{
    analyser_ready(0);
    snapshot_release();
    float in[2] = {0.0f, 0.0f}, out[2];
    for (int64_t i = 0; i < 4 * 2048; i++)
        analyser_callback(in, out, 1, nullptr, 0, nullptr);
    snapshot_reset();
}

// One refresh's analysis of a captured loopback period.
void BM_response_analysis(benchmark::State& state)
{
    capture_loopback_periods();
    for (auto _ : state) {
        response_analysis();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_response_analysis)->Unit(benchmark::kMicrosecond);

// One display refresh (clear, grid, 1024 trace segments, labels, read-outs).
// state.range(0): the scale.
void BM_response_display(benchmark::State& state)
{
    const auto id = static_cast<response_scale_id>(state.range(0));
    const response_scale& scale = response_scale_select(id);
    gfx_open_memory(response_window_width, scale.window_height);
    capture_loopback_periods();
    response_analysis();
    for (auto _ : state)
        response_display(spectrum_re, 64, "Loopback Interface Pro");
    gfx_close();
    response_scale_select(scale_tessaly);
}
BENCHMARK(BM_response_display)->ArgName("orbisca")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
