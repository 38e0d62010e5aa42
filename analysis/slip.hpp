// A slip of frames during the sweep's answer, read from the sweep's stretches.
#pragma once

#include <cstdint>

#include "analysis/deconvolve.hpp"

// The sweep plays its frequencies one after another, so each stretch of its
// band is a stretch of time: a driver that drops or repeats frames while the
// answer comes back (without a flag) puts the early stretches' peak at one
// lag and the late ones' at another. An echo, by contrast, sits behind the
// main peak in every stretch. slip_frames is the stretch's peak farthest from
// the earliest stretch's, less that one, where they differ by a peak's
// neighbourhood or more (a
// minimum-phase filter moves a stretch's peak by a few frames, never that
// far), else 0; stretches whose own peak is not clearly above their noise
// take no part.
struct slip_reading {
    int64_t slip_frames = 0;
    int64_t stretches = 0;  // the stretches that took part
};

inline constexpr int64_t slip_stretches = 4;

// Over lags 0 .. last_lag of r.
slip_reading slip_read(const impulse_response& r, int64_t last_lag);
