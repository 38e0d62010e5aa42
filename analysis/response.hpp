// The loop's magnitude and phase response from one run with the long sweep,
// and the impulse response around its peak, as CSV files.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "analysis/deconvolve.hpp"

// One row every 48000 / 4096 Hz (11.7 Hz) at any rate: the complex mean, with
// the latency taken out, of the transform's bins within half a row of it.
inline constexpr double response_row_hz = 48000.0 / 4096.0;
inline constexpr double response_low_hz = 10.0;
inline constexpr double response_snr_floor_db = 20.0;  // a row below it is marked

struct response_row {
    double hz = 0.0;
    double level_db = 0.0;   // relative to the row nearest 1 kHz
    double phase_deg = 0.0;  // with the latency taken out
    double snr_db = 0.0;     // the row's level over the noise measured before the sweep; NaN: not measured
};

struct response_summary {
    double flatness_db = 0.0;  // half the level's spread over the band below
    double band_low_hz = 20.0, band_high_hz = 20000.0;
    double minus3_low_hz = -1.0, minus3_high_hz = -1.0;  // -1: not within the rows
};

// The rows from 10 Hz to the Nyquist frequency. quiet: captured frames from
// before the sweep, for the noise (at least 2048, else the SNR is not
// measured); latency in frames.
std::vector<response_row> response_rows(const impulse_response& r, std::span<const float> quiet, double latency);

// Flatness from 20 Hz to 20 kHz (or 0.45 x rate, whichever is lower) and the
// -3 dB points either side of 1 kHz.
response_summary response_summarise(std::span<const response_row> rows, double rate);
