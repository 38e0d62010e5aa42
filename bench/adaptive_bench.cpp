// Cost per frame of the two adaptive callbacks, Karvel's (2000 taps) and
// Morvane's (2048 taps), with the snapshot copy (publishing) and without it
// (frozen), against the floor of the same BLAS work done bare on the callback's
// own arrays: one sdot, one saxpy and, for the floor with the copy, the copy of
// the taps. Counters: ns per frame, share of the 20.83 us frame at 48000 Hz,
// and the ratio to the floor (the floors run first). The counters use the
// thread's CPU time, so that other work on a busy machine does not blur the
// ratio; Google Benchmark's own Time column is wall time.
// The subnormal runs: the cable pulled (input silence) with every tap left
// subnormal (about 3e-41, where Karvel's taps end some five minutes after the
// cable is pulled), with and without flush-to-zero and denormals-are-zero as the
// frame sets them on the audio thread (realtime_thread_prepare).
#include <benchmark/benchmark.h>
#include <cblas.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

#include "bench/frame_cost.hpp"
#include "dsp/noise.hpp"
#include "frame/handshake.hpp"
#include "frame/realtime.hpp"
#include "latency/callback.hpp"
#include "latency/state.hpp"
#include "response/callback.hpp"
#include "response/state.hpp"
#include "rtresponse/state.hpp"

namespace {

// One adaptive program: its callback, its state and the floors measured for it.
struct adaptive_program {
    PaStreamCallback* callback;
    void (*reset)();
    int64_t taps;
    float* history;
    float* weights;
    float* snapshot;
    double floor_ns = 0.0;          // fastest floor with the copy, so the ratios err high
    double floor_no_copy_ns = 0.0;  // fastest floor without it
};

adaptive_program karvel{latency_callback,          latency::latency_reset_state, latency::tap_count,
                        latency::stimulus_history, latency::tap_weights,         latency::display_snapshot};
adaptive_program morvane{response_callback,          response::response_reset_state, response::tap_count,
                         response::stimulus_history, response::tap_weights,          rtresponse::display_snapshot};

void set_counters(benchmark::State& state, const adaptive_program& program, double ns, bool frozen)
{
    set_frame_counters(state, ns, program.floor_ns);
    if (frozen && program.floor_no_copy_ns > 0.0)
        state.counters["x_floor_no_copy"] = ns / program.floor_no_copy_ns;
}

// The bare kernels on the callback's arrays, stepping through the ring as it does.
void BM_floor(benchmark::State& state, adaptive_program* program, bool copy)
{
    program->reset();
    const int64_t n = program->taps;
    for (int64_t i = 0; i < 2 * n; i++)
        program->history[i] = 0.001f * static_cast<float>(i % 97) - 0.05f;
    int64_t p = 0;
    const double start = thread_cpu_ns();
    for (auto _ : state) {
        const float y = cblas_sdot(static_cast<blasint>(n), program->history + p, 1, program->weights, 1);
        cblas_saxpy(static_cast<blasint>(n), 1e-9f * (0.1f - y), program->history + p, 1, program->weights, 1);
        if (copy)
            std::memcpy(program->snapshot, program->weights, static_cast<size_t>(n) * sizeof(float));
        p = p == 0 ? n - 1 : p - 1;
        benchmark::DoNotOptimize(y);
        benchmark::ClobberMemory();
    }
    const double ns = per_iteration(start, state);
    double& fastest = copy ? program->floor_ns : program->floor_no_copy_ns;
    fastest = fastest > 0.0 ? std::min(fastest, ns) : ns;
    set_counters(state, *program, ns, false);
    program->reset();
}

// The callback on a simulated loop with a delay of 300 frames; frozen chooses
// whether the snapshot is copied every frame.
void BM_callback(benchmark::State& state, adaptive_program* program, int64_t frozen)
{
    program->reset();
    rand_reset();
    snapshot_reset();
    snapshot_frozen.store(frozen);
    const double ns = loop_cable_ns_per_frame(state, program->callback);
    set_counters(state, *program, ns, frozen == 1);
    program->reset();
    snapshot_reset();
}

// The callback with the cable pulled and every tap subnormal, publishing;
// flush chooses whether the thread flushes subnormal numbers to zero. The
// thread's control register is put back afterwards.
void BM_subnormal_taps(benchmark::State& state, adaptive_program* program, bool flush)
{
#if defined(__x86_64__)
    const unsigned saved = _mm_getcsr();
#endif
    program->reset();
    rand_reset();
    snapshot_reset();
    snapshot_frozen.store(0);
    float in[2] = {0.0f, 0.0f};
    float out[2] = {0.0f, 0.0f};
    program->callback(in, out, 1, nullptr, 0, nullptr);  // the clearing first call
    for (int64_t k = 0; k < program->taps; k++)
        program->weights[k] = 3e-41f * static_cast<float>(1 + k % 7) * (k % 2 ? -1.0f : 1.0f);
    if (flush)
        realtime_thread_prepare();
    const double start = thread_cpu_ns();
    for (auto _ : state) {
        program->callback(in, out, 1, nullptr, 0, nullptr);
        benchmark::DoNotOptimize(out[0]);
    }
    const double ns = per_iteration(start, state);
#if defined(__x86_64__)
    _mm_setcsr(saved);
#endif
    set_counters(state, *program, ns, false);
    program->reset();
    snapshot_reset();
}

}  // namespace

BENCHMARK_CAPTURE(BM_floor, latency_sdot_saxpy_copy, &karvel, true);
BENCHMARK_CAPTURE(BM_floor, latency_sdot_saxpy, &karvel, false);
BENCHMARK_CAPTURE(BM_callback, latency_publishing, &karvel, 0);
BENCHMARK_CAPTURE(BM_callback, latency_frozen, &karvel, 1);
BENCHMARK_CAPTURE(BM_floor, response_sdot_saxpy_copy, &morvane, true);
BENCHMARK_CAPTURE(BM_floor, response_sdot_saxpy, &morvane, false);
BENCHMARK_CAPTURE(BM_callback, response_publishing, &morvane, 0);
BENCHMARK_CAPTURE(BM_callback, response_frozen, &morvane, 1);
BENCHMARK_CAPTURE(BM_subnormal_taps, latency_subnormal, &karvel, false);
BENCHMARK_CAPTURE(BM_subnormal_taps, latency_subnormal_ftz_daz, &karvel, true);
BENCHMARK_CAPTURE(BM_subnormal_taps, response_subnormal, &morvane, false);
BENCHMARK_CAPTURE(BM_subnormal_taps, response_subnormal_ftz_daz, &morvane, true);

BENCHMARK_MAIN();
