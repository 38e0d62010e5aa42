// The loop's impulse response from one run: the captured answer divided by the
// played sweep in the frequency domain, band-limited by a fixed window.
#pragma once
#include <complex>
#include <cstdint>
#include <span>
#include <vector>

// Bins 0 .. n/2 of the transform of a real signal of n frames.
using spectrum = std::vector<std::complex<double>>;

// The smallest power of two of at least frames (and at least 2).
int64_t fft_size_at_least(int64_t frames);

// The transform of x zero-padded (or cut) to n frames, n even.
spectrum spectrum_of(std::span<const float> x, int64_t n);
spectrum spectrum_of(std::span<const double> x, int64_t n);
// The real signal of n frames whose transform is bins (scaled by 1/n).
std::vector<double> signal_of(const spectrum& bins, int64_t n);

// The band the impulse response is limited to: 1 from 20 Hz to 0.45 x rate,
// raised-cosine tapers down to 0 at 10 Hz and 0.475 x rate, 0 outside. The
// sweep covers all of it, so that no bin divides by a sweep that is not there.
double band_window(double hz, double rate);

struct impulse_response {
    int64_t n = 0;  // transform length; lags 0 .. n/2 - 1 at ir[lag], negative lags at the end
    double rate = 0.0;
    spectrum stimulus;       // the played sweep's bins
    spectrum transfer;       // captured / played, every bin (0 where nothing was played)
    spectrum banded;         // transfer x band window
    std::vector<double> ir;  // the band-limited impulse response
};

// Deconvolves the capture (frame 0: the frame the sweep's first sample was
// played in) by the sweep. Lags up to capture.size() - stimulus.size() have
// seen the whole sweep come back.
impulse_response deconvolve(std::span<const float> stimulus, std::span<const float> capture, double rate);
