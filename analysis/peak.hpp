// Where the impulse response peaks, to a small fraction of a frame, and how
// far it stands above its own noise.
#pragma once
#include <complex>
#include <cstdint>
#include <span>

#include "analysis/deconvolve.hpp"

// The index of the largest |ir[k]| for first <= k <= last (the first of equals).
int64_t peak_index(std::span<const double> ir, int64_t first, int64_t last);

// The position near index p (within a frame of it) where the band-limited
// impulse response, read as the continuous signal that its bins describe,
// reaches its extreme: a maximum for a positive peak, a minimum for a negative
// one. Exact for the band-limited signal, with no grid: Newton's method on the
// signal's derivative, summed from the bins, safeguarded by bisection.
double peak_position(const impulse_response& r, int64_t p);

// The same for any bins of an n-frame transform (bins 0 .. n/2): the extreme
// of the given sign nearest near, bracketed within reach frames of it; near
// itself when there is none.
double peak_position_of(std::span<const std::complex<double>> bins, int64_t n, double near, double sign, double reach);

// The band-limited impulse response at position t (in frames), from its bins.
double ir_at(const impulse_response& r, double t);

// A robust estimate of the noise's standard deviation in ir[first..last]:
// 1.4826 x the median of |ir[k]|, leaving out |k - centre| <= exclude. A few
// strong taps (the peak's neighbours, an echo) do not move it.
double noise_level(std::span<const double> ir, int64_t first, int64_t last, int64_t centre, int64_t exclude);

// The largest |ir[k]| for first <= k <= last with |k - centre| > exclude; -1 when there is none.
int64_t next_peak_index(std::span<const double> ir, int64_t first, int64_t last, int64_t centre, int64_t exclude);
