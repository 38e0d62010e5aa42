// The first frame that holds a played sound.
#include "analysis/first_heard.hpp"

#include <algorithm>
#include <cmath>

first_heard first_heard_find(std::span<const float> quiet, std::span<const float> capture)
{
    first_heard h;
    if (capture.empty()) {
        h.error = "nothing captured";
        return h;
    }
    double dc = 0.0;
    for (const float x : quiet)
        dc += x;
    dc = quiet.empty() ? 0.0 : dc / static_cast<double>(quiet.size());
    for (const float x : quiet)
        h.noise = std::max(h.noise, std::fabs(x - dc));
    for (const float x : capture)
        h.peak = std::max(h.peak, std::fabs(x - dc));
    const double over_noise = first_heard_over_noise * h.noise;
    if (h.peak <= std::max(over_noise, first_heard_floor)) {
        h.error = "not heard above the noise";
        return h;
    }
    h.threshold = std::max({over_noise, h.peak * std::pow(10.0, -first_heard_below_peak_db / 20.0), first_heard_floor});
    for (size_t i = 0; i < capture.size(); i++)
        if (std::fabs(capture[i] - dc) > h.threshold) {
            h.frame = static_cast<int64_t>(i);
            break;
        }
    h.error = "";
    return h;
}
