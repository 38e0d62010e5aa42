// Shared by the benchmarks of per-frame work: the thread's CPU time (so that
// other work on a busy machine does not blur the figures) and the counters
// that put a cost beside the 20.83 us that one frame lasts at 48000 Hz.
#pragma once
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdint>
#include <vector>

inline constexpr double frame_ns = 1e9 / 48000.0;  // 20833 ns

// CPU time of the calling thread in ns.
inline double thread_cpu_ns()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return 1e9 * static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec);
}

// CPU ns per iteration since start_ns.
inline double per_iteration(double start_ns, const benchmark::State& state)
{
    return (thread_cpu_ns() - start_ns) / static_cast<double>(state.iterations());
}

// ns per frame, its share of a frame and, when a floor has been measured, the
// ratio to it.
inline void set_frame_counters(benchmark::State& state, double ns_per_frame, double floor_ns)
{
    state.counters["ns_per_frame"] = ns_per_frame;
    state.counters["pct_of_frame"] = 100.0 * ns_per_frame / frame_ns;
    if (floor_ns > 0.0)
        state.counters["x_floor"] = ns_per_frame / floor_ns;
}

// Runs an adaptive program's callback frame by frame on a simulated loop cable
// with a delay of 300 frames, after its clearing first call; CPU ns per frame.
template <typename Callback>
double loop_cable_ns_per_frame(benchmark::State& state, Callback callback)
{
    float in[2] = {0.0f, 0.0f};
    float out[2] = {0.0f, 0.0f};
    std::vector<float> echo(2048, 0.0f);
    int64_t t = 0;
    callback(in, out, 1, nullptr, 0, nullptr);
    const double start = thread_cpu_ns();
    for (auto _ : state) {
        in[0] = echo[static_cast<size_t>((t - 300) & 2047)];
        callback(in, out, 1, nullptr, 0, nullptr);
        echo[static_cast<size_t>(t & 2047)] = out[0];
        t++;
    }
    return per_iteration(start, state);
}
