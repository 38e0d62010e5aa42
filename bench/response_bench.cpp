// Cost of Morvane's stream callback per frame, with the snapshot copy (not
// frozen) and without it (frozen), against the floor of the same BLAS work done
// bare: one 2048-term sdot, one 2048-term saxpy and a 2048-float copy on the
// callback's own arrays (and the same floor without the copy, for the frozen
// case). Counters: ns per frame, share of the 20.83 us frame at 48000 Hz, and
// the ratio to the floor (the floors run first). The counters use the
// thread's CPU time, so that other work on a busy machine does not blur the
// ratio; Google Benchmark's own Time column is wall time.
#include <benchmark/benchmark.h>
#include <cblas.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "dsp/noise.hpp"
#include "frame/handshake.hpp"
#include "bench/frame_cost.hpp"
#include "response/callback.hpp"
#include "response/state.hpp"
#include "rtresponse/analysis.hpp"
#include "rtresponse/display.hpp"
#include "rtresponse/state.hpp"

namespace {

using namespace response;

double floor_ns = 0.0;          // fastest run of BM_floor_sdot_saxpy_copy, so the ratios err high
double floor_no_copy_ns = 0.0;  // fastest run of BM_floor_sdot_saxpy

void set_counters(benchmark::State& state, double ns_per_frame, bool frozen)
{
    set_frame_counters(state, ns_per_frame, floor_ns);
    if (frozen && floor_no_copy_ns > 0.0)
        state.counters["x_floor_no_copy"] = ns_per_frame / floor_no_copy_ns;
}

// The bare kernels on the callback's arrays, stepping through the ring as it does.
void floor_frames(benchmark::State& state, bool copy, double& fastest)
{
    response_reset_state();
    for (int64_t i = 0; i < 2 * tap_count; i++)
        stimulus_history[i] = 0.001f * static_cast<float>(i % 97) - 0.05f;
    int64_t p = 0;
    const double start = thread_cpu_ns();
    for (auto _ : state) {
        const float y = cblas_sdot(tap_count, stimulus_history + p, 1, tap_weights, 1);
        cblas_saxpy(tap_count, 1e-9f * (0.1f - y), stimulus_history + p, 1, tap_weights, 1);
        if (copy)
            std::memcpy(rtresponse::display_snapshot, tap_weights, tap_count * sizeof(float));
        p = p == 0 ? tap_count - 1 : p - 1;
        benchmark::DoNotOptimize(y);
        benchmark::ClobberMemory();
    }
    const double ns = per_iteration(start, state);
    fastest = fastest > 0.0 ? std::min(fastest, ns) : ns;
    set_counters(state, ns, false);
    response_reset_state();
}

void BM_floor_sdot_saxpy_copy(benchmark::State& state) { floor_frames(state, true, floor_ns); }
void BM_floor_sdot_saxpy(benchmark::State& state) { floor_frames(state, false, floor_no_copy_ns); }

// The callback on a simulated loop with a delay of 300 frames; frozen chooses
// whether the snapshot is copied every frame.
void callback_frames(benchmark::State& state, int64_t frozen)
{
    response_reset_state();
    rand_reset();
    snapshot_reset();
    snapshot_frozen.store(frozen);
    const double ns = loop_cable_ns_per_frame(state, response_callback);
    set_counters(state, ns, frozen == 1);
    response_reset_state();
    snapshot_reset();
}

void BM_response_callback_publishing(benchmark::State& state) { callback_frames(state, 0); }
void BM_response_callback_frozen(benchmark::State& state) { callback_frames(state, 1); }

}  // namespace

BENCHMARK(BM_floor_sdot_saxpy_copy);
BENCHMARK(BM_floor_sdot_saxpy);
BENCHMARK(BM_response_callback_publishing);
BENCHMARK(BM_response_callback_frozen);

BENCHMARK_MAIN();
