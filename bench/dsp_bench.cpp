// Per-frame cost of the signal kernels that run inside the stream callbacks.
// The adaptive filters do one delay_line_dot and one ring_axpy per frame; the
// floor is the same pair of bare BLAS calls without the delay-line bookkeeping.
#include "dsp/fft.hpp"
#include "dsp/vector.hpp"

#include <benchmark/benchmark.h>

#include <cblas.h>
#include "bench/frame_cost.hpp"

#include <cstdint>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

// Turns the thread CPU time since start_ns (taken just before the timed loop) into
// per-iteration counters: the cost in ns and as a percentage of one 48000 Hz frame.
void report_frame_cost(benchmark::State& state, double start_ns)
{
    const double elapsed_ns = thread_cpu_ns() - start_ns;
    using benchmark::Counter;
    state.counters["ns_per_frame"] = Counter(elapsed_ns, Counter::kAvgIterations);
    state.counters["pct_of_frame"] = Counter(100.0 * elapsed_ns / frame_ns, Counter::kAvgIterations);
}

// Deterministic small noise for data and coefficients.
std::vector<float> noise(int64_t n, uint32_t seed)
{
    std::vector<float> v(static_cast<size_t>(n));
    for (auto& x : v) {
        seed = seed * 1664525u + 1013904223u;
        x = static_cast<float>(static_cast<double>(seed) / 4294967296.0 - 0.5) * 0.01f;
    }
    return v;
}

// One adaptive-filter frame: predict with delay_line_dot, update with ring_axpy.
void BM_delay_line_frame(benchmark::State& state)
{
    const int64_t n = state.range(0);
    std::vector<float> d(static_cast<size_t>(2 * n + 1), 0.0f);
    std::vector<float> w = noise(n, 1);
    const std::vector<float> x = noise(4096, 2);
    int64_t p = 0;
    int64_t q = 0;
    size_t t = 0;
    const double start = thread_cpu_ns();
    for (auto _ : state) {
        const float y = delay_line_dot(x[t], d.data(), w.data(), n, p);
        ring_axpy(w.data(), 1e-6f * (x[t] - y), d.data(), n, q);
        t = (t + 1) & 4095u;
        benchmark::DoNotOptimize(y);
    }
    benchmark::ClobberMemory();
    report_frame_cost(state, start);
}

// The floor: the same dot and axpy sizes as bare CBLAS calls on a fixed window.
void BM_bare_sdot_saxpy(benchmark::State& state)
{
    const int64_t n = state.range(0);
    std::vector<float> d = noise(2 * n + 1, 3);
    std::vector<float> w = noise(n, 1);
    const double start = thread_cpu_ns();
    for (auto _ : state) {
        const float y = cblas_sdot(static_cast<blasint>(n), d.data(), 1, w.data(), 1);
        cblas_saxpy(static_cast<blasint>(n), 1e-9f * y, d.data(), 1, w.data(), 1);
        benchmark::DoNotOptimize(y);
    }
    benchmark::ClobberMemory();
    report_frame_cost(state, start);
}

// Forward transform of one 2048-sample block. The input is restored from a copy
// each iteration (two 8 KiB memcpy) so that values stay bounded.
void BM_fft_2048_forward(benchmark::State& state)
{
    std::vector<float> re_in = noise(2049, 4);
    std::vector<float> im_in(2049, 0.0f);
    std::vector<float> re(2049), im(2049);
    fft_2048(re.data(), im.data(), -1, 1);
    const double start = thread_cpu_ns();
    for (auto _ : state) {
        std::memcpy(re.data(), re_in.data(), 2048 * sizeof(float));
        std::memcpy(im.data(), im_in.data(), 2048 * sizeof(float));
        fft_2048(re.data(), im.data(), -1, 0);
        benchmark::DoNotOptimize(re.data());
        benchmark::DoNotOptimize(im.data());
        benchmark::ClobberMemory();
    }
    report_frame_cost(state, start);
}

}  // namespace

BENCHMARK(BM_delay_line_frame)->Arg(2000)->Arg(2048);
BENCHMARK(BM_bare_sdot_saxpy)->Arg(2000)->Arg(2048);
BENCHMARK(BM_fft_2048_forward);

BENCHMARK_MAIN();
