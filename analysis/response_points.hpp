// The response as a baseline's mask reads it: the rows (analysis/response.hpp,
// 11.7 Hz apart) taken to points 1/24 octave apart over the band, each with
// its level and the standard uncertainty the noise gives it.
#pragma once
#include <span>
#include <vector>

#include "analysis/response.hpp"

inline constexpr double response_points_per_octave = 24.0;

struct response_point {
    double hz = 0.0;
    double level_db = 0.0;        // re the row nearest 1 kHz, as the rows
    double uncertainty_db = 0.0;  // standard uncertainty of level_db; NaN where the rows' SNR is not measured
};

// The standard uncertainty of a level in dB whose noise stands snr_db below
// it: the noise's part in phase with the level, 20 / ln 10 / sqrt(2 snr).
double response_level_uncertainty_db(double snr_db);

// Points at 1000 x 2^(n / 24) Hz from low_hz to high_hz: each the mean of the
// rows within half a step of it where two or more are (above about 800 Hz),
// else the line between the rows either side, at its frequency. Its uncertainty: that of the rows (the mean's as if
// their noise were one, an upper bound: rows are nearly independent; between two rows the larger) with the reference
// row's taken in, since every level is re it. Empty when the rows do not reach across the band.
std::vector<response_point> response_points(std::span<const response_row> rows, double low_hz, double high_hz);
