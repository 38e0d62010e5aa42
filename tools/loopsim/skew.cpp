// Channel 2's own clock: a ring and the stream stage's resampler.
#include "tools/loopsim/skew.hpp"

#include <algorithm>
#include <cmath>

#include "tools/loopsim/stream.hpp"

namespace loopsim {

skew skew_build(double ppm, double rate)
{
    skew s;
    if (ppm == 0.0)
        return s;
    s.active = true;
    s.step = 1.0 / (1.0 + ppm * 1e-6);
    const int64_t slip = ppm < 0.0 ? static_cast<int64_t>(std::ceil(-ppm * 1e-6 * 3600.0 * rate)) : 0;
    s.lag = stream_half + 1 + slip;
    uint64_t length = 1;
    while (length < static_cast<uint64_t>(s.lag + 2 * stream_half + 2 + 65536))
        length *= 2;
    s.ring.assign(length, 0.0);
    s.mask = length - 1;
    s.most_lag = static_cast<int64_t>(length) - stream_half - 2;
    stream_resample(s.ring.data(), s.mask, 0.0);  // the kernel's table made now, not in the callback
    return s;
}

double skew_process(skew& s, double x, int64_t since, glitch_queue& q)
{
    if (!s.active)
        return x;
    const int64_t newest = s.written;
    s.ring[static_cast<uint64_t>(newest) & s.mask] = x;
    s.written++;
    if (since >= 0 && s.first < 0)
        s.first = newest;
    double position = static_cast<double>(newest - s.lag);
    if (s.first >= 0)
        position = static_cast<double>(s.first - s.lag) + static_cast<double>(newest - s.first) * s.step;
    // The kernel reads up to stream_half frames past the position: never past
    // the newest, never behind what the ring keeps.
    const double latest = static_cast<double>(newest - stream_half - 1),
                 earliest = static_cast<double>(newest - s.most_lag);
    if (position > latest || position < earliest) {
        position = std::clamp(position, earliest, latest);
        q.clamped.fetch_add(1, std::memory_order_relaxed);
    }
    return stream_resample(s.ring.data(), s.mask, position);
}

}  // namespace loopsim
