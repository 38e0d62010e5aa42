// Channel 2's own clock (--ppm2): an offset between two loops' clocks, as a
// resampler that tracks a second device leaves it. Channel 2's output, after
// the stream stage (which runs both channels on --ppm's clock), is read
// through a resampler of its own, the stream stage's kernel (128 taps, flat
// within 1e-4 dB to 20 kHz at 48 kHz): from the first sound on, its output
// frame m (counted from there) carries the frame (m / (1 + PPM2 1e-6)) - lag
// of what reached it, the lag 65 frames (the kernel's half and one), and for
// a slow clock (negative PPM2) an hour's slip more (|PPM2| 1e-6 x 3600 x rate
// frames), so that the kernel never reads a frame not yet there. A tone on
// channel 2 comes back lower by PPM2 (at +0.3 ppm, 16 kHz comes back 0.0048 Hz
// low), its delay growing by PPM2 1e-6 frames every frame. Before the first
// sound the frames pass at the lag alone. The lag held at a bound (a slow
// clock after its hour, a fast one after 2^16 frames of slip: 15 h at 10 ppm
// and 48 kHz) counts as the stream stage's does.
#pragma once
#include <cstdint>
#include <vector>

#include "tools/loopsim/glitch.hpp"

namespace loopsim {

constexpr double skew_max_ppm = 10.0;

struct skew {
    bool active = false;
    double step = 1.0;  // played frames a frame: 1 / (1 + PPM2 1e-6)
    std::vector<double> ring;
    uint64_t mask = 0;
    int64_t written = 0;   // frames written
    int64_t lag = 0;       // frames the reading starts behind the newest
    int64_t first = -1;    // the frame the first sound was written at
    int64_t most_lag = 0;  // the most the ring holds behind the newest frame
};

// For PPM2 within +-skew_max_ppm at the rate (0: passes frames straight through).
skew skew_build(double ppm, double rate);

// One frame of channel 2 in, the frame read through the clock out; since:
// frames since the first sound, -1 before it. Real-time safe.
double skew_process(skew& s, double x, int64_t since, glitch_queue& q);

}  // namespace loopsim
