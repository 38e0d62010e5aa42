// Shared by the benchmarks of per-frame work: the thread's CPU time (so that
// other work on a busy machine does not blur the figures) and the counters
// that put a cost beside the 20.83 us that one frame lasts at 48000 Hz.
#pragma once
#include <benchmark/benchmark.h>
#include <time.h>

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
