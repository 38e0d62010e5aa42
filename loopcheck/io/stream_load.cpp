// The callback's busy time for --load.
#include "loopcheck/io/stream_load.hpp"

#include <chrono>
#include <cmath>

int64_t stream_load_budget_ns(double share, int64_t frames, double rate)
{
    return rate > 0.0 ? std::llrint(share * static_cast<double>(frames) * 1e9 / rate) : 0;
}

int64_t stream_load_spin(int64_t start_ns, int64_t budget_ns, int64_t (*clock)())
{
    int64_t now = clock();
    while (now - start_ns < budget_ns)
        now = clock();
    return now - start_ns;
}

int64_t stream_load_clock_ns()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
