// A tone between bins, in closed form through the Hann window: fitted to the
// bins around it and taken out of a block's Hann transform. A loop whose
// input runs on another clock than its output (a resampler between them)
// returns each tone a fraction of a bin off, and through Hann the tone then
// spreads d / (2 |m| (m^2 - 1)) of itself m bins away: beside a -19 dBFS tone
// 12 bins from a -129 dBFS pickup, at 16 kHz and 0.3 ppm, more than the pickup.
// The spread of a sinusoid is exact given its frequency and phasor, so it can
// be taken out, bin by bin, to the rounding of the arithmetic.
#pragma once
#include <complex>
#include <cstdint>

#include "analysis/distortion.hpp"

// Bins either side of a tone that distortion_take_out clears: beyond them a
// tone off its bin by d leaves under d / (2 x 256^3) of itself, 3e-8 d.
inline constexpr int64_t distortion_fit_reach = 256;

// Hann's bin j, over n, for the complex tone e^(i 2 pi f m / n) of the block's
// frames m, u = f - j bins from it: 1/2 at u = 0, -1/4 at u = +-1, 0 at every
// other whole u; between them the periodic Hann window's transform of the
// block, (1/2 G(u) - 1/4 G(u + 1) - 1/4 G(u - 1)) / n with G(u) the sum of
// e^(i 2 pi u m / n) over the block, (1 - e^(i 2 pi u)) / (1 - e^(i 2 pi u / n)).
std::complex<double> distortion_hann_response(double u, int64_t n);

// How far the tone nearest bin lies from it, in bins (positive: above), from
// its three Hann bins: a tone at bin + d puts |h(d - 1)| / |h(d)| = (1 + d) / (2 - d)
// of itself in bin + 1 re bin (in the limit of a long block: to 1e-9 bin at
// 32768 frames), and the mirror in bin - 1; the mean of the two. A coherent
// component 3 bins or more away adds nothing to those bins, where the phase
// gained over the block's halves (distortion_offset_bins) takes in 1 / (pi d)
// of one an odd number d of bins away: beside a loop's own products 3 bins
// off, 1e-4 bin, whose spread, taken out, passed for crosstalk.
double distortion_offset_hann(const distortion_block& b, int64_t bin);

// A real tone A cos(2 pi (bin + offset) m / n + phi) as a peak phasor A e^(i phi).
struct distortion_tone {
    int64_t bin = 0;
    double offset = 0.0;  // bins, |offset| < 1
    std::complex<double> phasor = 0.0;
};

// The phasor of the tone between bins at bin + offset, fitted by least
// squares to the Hann bins bin - 1 .. bin + 1 (where it holds nearly all of
// itself for an offset under half a bin; its negative frequency, 2 bin bins
// away, is left out).
distortion_tone distortion_fit(const distortion_block& b, int64_t bin, double offset);

// Takes the tone out of b's Hann bins within distortion_fit_reach of it.
void distortion_take_out(distortion_block& b, const distortion_tone& t);
