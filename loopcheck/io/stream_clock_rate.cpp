// The interface's clock against the system's, read from the callbacks' times
// (apart from stream.cpp, which the ThreadSanitizer's tests build alone).
#include <algorithm>

#include "loopcheck/io/stream_state.hpp"

void stream_clock_need(stream& s, double seconds) { s.timed_seconds = std::max(s.timed_seconds, seconds); }

clock_rate stream_clock_rate(const stream& s) { return clock_rate_fit(stream_clock_points(s.state), s.facts.rate); }

double stream_open_to_first_callback_ms(const stream& s)
{
    const std::vector<clock_point> points = stream_clock_points(s.state);
    if (points.empty() || points.front().frame != 0 || s.opened_ns == 0)
        return -1.0;
    return static_cast<double>(points.front().ns - s.opened_ns) * 1e-6;
}
