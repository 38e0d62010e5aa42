// The long-run monitor's stimulus: twelve tones from 317 Hz to 11.6 kHz whose
// frequencies are odd multiples of rate / 2^22. Their phases line up again only
// after 2^22 frames (87 s at 48 kHz), so a jump of the capture by any number
// of frames short of that changes the pattern in a way only that jump
// explains; and any frame of it is computed exactly from its index alone, so
// that a generator with no growing state can fill a ring ahead of the callback.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

inline constexpr int64_t monitor_period = int64_t{1} << 22;  // frames
inline constexpr double monitor_default_level_dbfs = -20.0;  // the sum's RMS
// The peak reaches 12.3 dB over the RMS in a period: at -13 dBFS, -0.7 dBFS.
inline constexpr double monitor_max_level_dbfs = -13.0;

struct monitor_tone {
    int64_t cycles = 0;      // per period: odd, so that the tone's own period is the whole period
    double omega = 0.0;      // radians per frame, 2 pi cycles / period
    double amplitude = 0.0;  // peak, linear
    double phase = 0.0;      // radians at frame 0
};

struct monitor_stimulus {
    double rate = 0.0;
    double level_dbfs = 0.0;
    std::vector<monitor_tone> tones;
};

// The tones that lie below 0.4 x rate, scaled so that their sum's RMS is
// level_dbfs. Throws std::invalid_argument for a rate outside 8000 ..
// 768000 Hz or a level outside -60 .. -13 dBFS (NaN and infinities included).
monitor_stimulus monitor_stimulus_design(double rate, double level_dbfs);

// The tone's phase at frame (any int64_t, negative too), in radians: exact to
// the double's rounding however large the frame, from integer arithmetic.
double monitor_tone_phase(const monitor_tone& tone, int64_t frame);

// Frames first_frame .. first_frame + out.size() - 1 of the stimulus.
void monitor_stimulus_fill(const monitor_stimulus& s, std::span<float> out, int64_t first_frame);
