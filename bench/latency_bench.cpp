// Cost of Karvel's stream callback per frame, with the snapshot copy (not
// frozen) and without it (frozen), against the floor of the same BLAS work done
// bare: one 2000-term sdot, one 2000-term saxpy and a 2000-float copy on the
// callback's own arrays. Counters: ns per frame, share of the 20.83 us frame at
// 48000 Hz, and the ratio to the floor (the floor runs first). The counters
// use the thread's CPU time, so that other work on a busy machine does not
// blur the ratio; Google Benchmark's own Time column is wall time.
#include <benchmark/benchmark.h>
#include <cblas.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "bench/frame_cost.hpp"
#include "dsp/noise.hpp"
#include "frame/handshake.hpp"
#include "latency/callback.hpp"
#include "latency/display.hpp"
#include "latency/state.hpp"

namespace {

using namespace latency;

double floor_ns = 0.0;  // fastest run of BM_floor_sdot_saxpy_copy, so the ratio errs high

void set_counters(benchmark::State& state, double ns_per_frame) { set_frame_counters(state, ns_per_frame, floor_ns); }

void BM_floor_sdot_saxpy_copy(benchmark::State& state)
{
    latency_reset_state();
    for (int64_t i = 0; i < 2 * tap_count; i++)
        stimulus_history[i] = 0.001f * static_cast<float>(i % 97) - 0.05f;
    int64_t p = 0;
    const double start = thread_cpu_ns();
    for (auto _ : state) {
        const float y = cblas_sdot(tap_count, stimulus_history + p, 1, tap_weights, 1);
        cblas_saxpy(tap_count, 1e-9f * (0.1f - y), stimulus_history + p, 1, tap_weights, 1);
        std::memcpy(display_snapshot, tap_weights, tap_count * sizeof(float));
        p = p == 0 ? tap_count - 1 : p - 1;
        benchmark::DoNotOptimize(y);
        benchmark::ClobberMemory();
    }
    const double ns = per_iteration(start, state);
    floor_ns = floor_ns > 0.0 ? std::min(floor_ns, ns) : ns;
    set_counters(state, ns);
    latency_reset_state();
}

// The callback on a simulated loop with a delay of 300 frames; frozen chooses
// whether the snapshot is copied every frame.
void callback_frames(benchmark::State& state, int64_t frozen)
{
    latency_reset_state();
    rand_reset();
    snapshot_reset();
    snapshot_frozen.store(frozen);
    const double ns = loop_cable_ns_per_frame(state, latency_callback);
    set_counters(state, ns);
    latency_reset_state();
    snapshot_reset();
}

void BM_latency_callback_publishing(benchmark::State& state) { callback_frames(state, 0); }
void BM_latency_callback_frozen(benchmark::State& state) { callback_frames(state, 1); }

}  // namespace

BENCHMARK(BM_floor_sdot_saxpy_copy);
BENCHMARK(BM_latency_callback_publishing);
BENCHMARK(BM_latency_callback_frozen);

BENCHMARK_MAIN();
