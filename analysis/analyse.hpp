// What one run's capture says about the loop: whether there is one, its
// latency, gain, polarity, signal-to-noise ratio, next peak, and whether a
// dropout spoiled the capture.
#pragma once
#include <cstdint>
#include <span>

#include "analysis/deconvolve.hpp"

// A loop is found when the impulse response's largest tap stands at least
// this far above the response's noise: 20 dB, where the largest of a million
// taps of pure noise stands about 14 dB above it.
inline constexpr double loop_snr_floor_db = 20.0;
inline constexpr double weak_snr_db = 30.0;       // below: a weak-signal warning
inline constexpr double echo_warning_db = -30.0;  // a next peak above this: an echo warning
// The latency's uncertainty is given expanded by this factor: about 95 % of
// readings lie within it, as a measurement's "±" is read.
inline constexpr double latency_coverage = 2.0;

struct run_result {
    bool loop = false;                 // a peak clearly above the noise
    int64_t searched_lags = 0;         // lags 0 .. searched_lags - 1 were searched
    int64_t peak = 0;                  // the largest tap's lag
    double peak_value = 0.0;           // and its signed value, as the path would have it to the Nyquist frequency
    double latency = 0.0;              // the band-limited peak's position, frames
    double latency_uncertainty = 0.0;  // its expanded uncertainty, frames: noise and the halves' disagreement
    double latency_noise = 0.0;        // the noise's standard share alone, from the SNR and the bandwidth
    double latency_low_half = 0.0, latency_high_half = 0.0;  // the peak read from each half of the sweep
    double group_delay = 0.0;                                // from the phase slope over 500 Hz - 15 kHz, frames
    double group_delay_1khz = 0.0;                           // the phase slope at 1 kHz itself, frames
    double group_delay_1khz_sd = 0.0;                        // and its standard error; -1 when it could not be had
    double gain_db = 0.0;                                    // mean |H| over 500 Hz - 2 kHz
    double snr_db = 0.0;                                     // the peak over the response's noise
    bool inverted = false;
    bool has_next = false;       // a next peak outside the main one's neighbourhood
    int64_t next_offset = 0;     // its lag minus the peak's
    double next_level_db = 0.0;  // its size relative to the peak
    double input_peak = 0.0;     // the largest |captured sample|
    int64_t gaps = 0;            // stretches of digital silence where the answer should be moving
    int64_t slip_frames = 0;     // frames the delay moved by during the answer (slip.hpp); 0: none seen
};

// Frames either side of the peak that belong to it (its band-limited main
// lobe and the converters' filters): 64 at 48000 Hz.
int64_t peak_neighbourhood(double rate);

// The loop's latency and peak from an impulse response, over lags 0 .. last_lag.
run_result analyse_peak(const impulse_response& r, int64_t last_lag);

// All of it: analyse_peak, then group delay, gain, polarity, next peak, the
// input's peak, the latency's uncertainty and the check for dropouts in the
// capture (frame 0: the stimulus's first frame).
run_result analyse_run(const impulse_response& r, std::span<const float> stimulus, std::span<const float> capture,
                       int64_t last_lag);
