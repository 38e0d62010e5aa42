// The measurement band and the A-weighting, as gains per frequency. The
// analysis applies them to the bins of a coherent block (distortion.hpp), so
// they are exact magnitudes, not filters with a settling time.
#pragma once

// AES17's band: 20 Hz to 20 kHz at every rate. Its standard low-pass (flat to
// 20 kHz within 0.1 dB, at least 60 dB down by 24 kHz) is taken as a brick
// wall at 20 kHz on the bins: flat to the edge, nothing above it. That meets
// both bounds, gives the noise bandwidth exactly 19980 Hz at every rate, and
// at 44.1 kHz, where 24 kHz lies beyond the Nyquist frequency, leaves nothing
// of the stop band to argue about: the bins from 20 kHz to 22.05 kHz are out.
inline constexpr double weighting_band_low_hz = 20.0;
inline constexpr double weighting_band_high_hz = 20000.0;

// 1 inside the band (edges included), 0 outside.
double weighting_band(double hz);

// IEC 61672's A-weighting from its closed form (the four poles' frequencies),
// normalised to exactly 0 dB at 1 kHz; as a gain and in dB.
double weighting_a_gain(double hz);
double weighting_a_db(double hz);
