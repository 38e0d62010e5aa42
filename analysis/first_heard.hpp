// Where a played sound is first heard: the first frame of a capture that
// holds it, above the noise the capture held before it was played. Used at
// each start of the stream (--reopen) for the time from the first frame
// played to its first captured sound, beside the round trip the sweeps give:
// a start whose interface is not yet steady shows there. Pure: the caller
// owns the frames.
#pragma once
#include <cstdint>
#include <span>
#include <string>

// A frame holds the sound when it lies further from the quiet's mean (its
// DC) than the larger of: this many times the quiet's largest deviation (its
// noise and hum, 12 dB over their peak); the answer's own peak this many dB
// down (a converter's filter rings ahead of its main tap, far below it); and
// first_heard_floor (-140 dBFS, where the quiet was digital silence).
inline constexpr double first_heard_over_noise = 4.0;
inline constexpr double first_heard_below_peak_db = 40.0;
inline constexpr double first_heard_floor = 1e-7;

struct first_heard {
    std::string error = "not measured";  // "" when frame stands, otherwise why not
    int64_t frame = -1;                  // the capture's first frame that holds the sound, from its start
    double peak = 0.0;                   // the answer's largest deviation from the quiet's mean
    double noise = 0.0;                  // the quiet's largest deviation from its mean
    double threshold = 0.0;              // what a frame had to exceed
};

// quiet: the capture just before the sound was played (nothing of it can be
// there yet); capture: from the frame it was played at on. An answer whose
// peak is not first_heard_over_noise times above the quiet's, or no capture
// at all, is not heard: error says so.
first_heard first_heard_find(std::span<const float> quiet, std::span<const float> capture);
