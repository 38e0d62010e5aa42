// loopsim's coloured noise: pink noise (equal power per octave) from white
// noise through a cascade of first-order pole-zero sections, poles and zeros
// alternating four to a decade from 5 Hz up, so that the slope averages
// -3 dB an octave (-10 dB a decade) across the audio band. Below the lowest pole
// the spectrum flattens (finite power at DC), above the highest zero as well.
#pragma once
#include <cstdint>

namespace loopsim {

constexpr int64_t pink_max_sections = 24;

struct pink_filter {
    int64_t count = 0;
    double pole[pink_max_sections] = {}, zero[pink_max_sections] = {};  // z-plane, real
    double x1[pink_max_sections] = {}, y1[pink_max_sections] = {};
    double tilt_x1 = 0.0;  // the final zero at half the rate
    double scale = 1.0;    // makes the output's RMS, over the whole band, the one asked for
};

// Sections for the rate, scaled so that white input of RMS white_rms comes out
// at RMS rms: the scale from the sum of squares of the impulse response.
pink_filter pink_design(double rate, double white_rms, double rms);

// One sample of white noise in, one of pink out. Real-time safe.
double pink_run(pink_filter& f, double white);

// |H|^2 of the cascade (scale included) at hz: the closed form of the spectrum.
double pink_power_at(const pink_filter& f, double hz, double rate);

}  // namespace loopsim
