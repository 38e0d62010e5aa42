// The stimulus: a faded sweep whose spectrum is pink (energy per octave
// constant) from its lowest frequency up to a knee and white (energy per hertz
// constant) above it. The pink part gives the low frequencies their share for
// the response; the white part is what a matched measurement of the delay
// wants in broadband noise.
#pragma once
#include <cstdint>
#include <vector>

inline constexpr double sweep_low_hz = 10.0;
inline constexpr double sweep_knee_hz = 1000.0;
inline constexpr double sweep_top_share = 0.48;  // of the sample rate

// Frames of the sweep for a measurement of the delay (about 85 ms at any rate)
// and the long one for a weak loop (about 1.4 s, 12 dB more signal).
int64_t sweep_frames(double rate, bool long_sweep);

// Frames of the sweep of a response: about 0.85 s, 10 dB more signal than the
// delay's, short enough that a response is measured within 1.5 s.
int64_t sweep_frames_response(double rate);

// The sweep of that many frames at the rate, with the peak amplitude given
// (linear, at most 1), computed in double precision then stored as float.
std::vector<float> sweep_make(int64_t frames, double rate, double amplitude);
