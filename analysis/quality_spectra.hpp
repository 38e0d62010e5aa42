// --quality's spectra as the report draws them: each tone's and the silent
// outputs' noise, per loop, each bin as the peak level of a sine in it
// (dBFS: the fundamental's bin reads its received level, a harmonic's its
// level), cut to the largest bin of each of quality_spectrum_bins log-spaced
// bins from 10 Hz to the Nyquist frequency, so that a peak is never lost and
// the report holds a few thousand numbers, not the captures.
#pragma once
#include <cstddef>
#include <span>
#include <vector>

#include "analysis/quality_plan.hpp"

inline constexpr size_t quality_spectrum_bins = 1000;
inline constexpr double quality_spectrum_low_hz = 10.0;

struct quality_spectrum_curve {
    std::vector<double> hz, dbfs;
};

struct quality_loop_spectra {
    std::vector<quality_spectrum_curve>
        tones;                              // the tone segments', in the plan's order (as quality_loop_figures::tones)
    std::vector<double> tone_levels_dbfs;   // each one's level as played
    quality_spectrum_curve noise, noise_a;  // the idle segment's, unweighted and A-weighted
};

// One block's spectrum (frames: settle then the analysed block), A-weighted or not.
quality_spectrum_curve quality_spectrum_of(const quality_plan& p, const quality_segment& seg,
                                           std::span<const float> capture, bool a_weighted);

// Every loop's, from the battery's captures (captures[segment][loop]); a
// capture too short for its segment gives an empty curve.
std::vector<quality_loop_spectra> quality_spectra_take(const quality_plan& p,
                                                       const std::vector<std::vector<std::vector<float>>>& captures);
