// loopsim's output stream as a capture stream delivers it: read through its
// own clock (--ppm) and broken by glitches (drop, insert, zero), every channel
// at once. The stage keeps the path's output in a ring and reads it a lag
// behind the newest frame: the lag starts as the reserve (frames of the whole
// --delay handed over by the path) plus the resampler's own half length, a
// drop shortens it, an insert lengthens it, and the clock slides it.
//
// The clock: from the first non-zero input on, output frame m (counted from
// there) reads the stage's input at position (m / (1 + ppm 1e-6)) - lag, so
// that an input frame n arrives at output frame (1 + ppm 1e-6) (n + lag): a
// positive ppm is an input side (what the program records) running fast, its
// loop delay growing by ppm 1e-6 frames every frame played. Between frames a
// 128-tap Kaiser-windowed sinc (cut-off 0.45 of the rate, beta 12), tabulated
// at 4096 phases and interpolated linearly between them; it delays by 64
// frames and is flat to within 1e-4 dB to 20 kHz at 48 kHz (0.42 of the rate),
// -6 dB at 0.45 of it. Without --ppm the
// stage reads whole frames and adds no delay and no filter.
#pragma once
#include <cstdint>
#include <vector>

#include "tools/loopsim/glitch.hpp"

namespace loopsim {

constexpr int64_t stream_max_channels = 2;
constexpr int64_t stream_half = 64;           // the resampler's half length, its delay in frames
constexpr int64_t stream_phases = 4096;       // rows of the tabulated kernel
constexpr int64_t stream_headroom = 1 << 18;  // frames of lag the inserts and a fast clock may add

struct stream_options {
    double rate = 48000.0;
    int64_t channels = 1;
    double ppm = 0.0;
    int64_t reserve = 0;          // frames of the whole delay the path leaves to this stage
    int64_t upstream_delay = 0;   // the rest, which the path keeps (for the records' input frame)
    std::vector<glitch> planned;  // sorted by time
    double random_per_minute = 0.0;
    uint64_t random_seed = 0;
};

struct stream {
    bool active = false;  // false: the loop passes its frames straight through
    int64_t channels = 1;
    double rate = 48000.0;
    std::vector<double> ring[stream_max_channels];
    uint64_t mask = 0;
    int64_t written = 0;         // frames written: the index of the next one
    std::vector<double> kernel;  // (stream_phases + 1) rows of 2 stream_half taps; empty: whole frames
    int64_t half = 0;            // stream_half when resampling, else 0
    double anchor_q = 0.0;       // read position at frame anchor_j; then step a frame
    int64_t anchor_j = 0;
    double step = 1.0;
    double clocked_step = 1.0;  // 1 / (1 + ppm 1e-6), from the first sound on
    int64_t min_lag = 0, max_lag = 0;
    int64_t upstream_delay = 0;
    int64_t zero_left = 0;
    std::vector<glitch> planned;
    size_t next_planned = 0;
    glitch_random random;
};

stream stream_build(const stream_options& o);

// One frame: y holds the channels' samples in, out receives them. since: frames
// since the first non-zero input, -1 before it. Each glitch goes to q as it
// happens; a lag pushed past its bounds (a slow clock that has used up the
// reserve, a fast one the headroom) holds there and counts in q.clamped.
// Real-time safe.
void stream_process(stream& s, const double* y, double* out, int64_t since, glitch_queue& q);

// The read position of frame j in the stage's input (fractional with a clock).
double stream_position(const stream& s, int64_t j);

}  // namespace loopsim
