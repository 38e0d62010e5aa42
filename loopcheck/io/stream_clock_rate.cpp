// The interface's clock against the system's, read from the callbacks' times
// (apart from stream.cpp, which the ThreadSanitizer's tests build alone).
#include <algorithm>

#include "loopcheck/io/stream_state.hpp"

void stream_clock_need(stream& s, double seconds) { s.timed_seconds = std::max(s.timed_seconds, seconds); }

clock_rate stream_clock_rate(const stream& s) { return clock_rate_fit(stream_clock_points(s.state), s.facts.rate); }
