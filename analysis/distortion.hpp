// Distortion and noise measured on one coherent block: the transform of n
// frames (a power of two) in which every tone of the stimulus makes a whole
// number of cycles (tones.hpp). A tone then lies on one bin of the plain
// transform, and on that bin and the two beside it through a periodic Hann
// window; the notch is the removal of those three bins, and leaves nothing
// of a pure tone but the rounding of the samples. What is not coherent with
// the block (mains hum, an interface's idle tones) spreads from the block's
// edges: in the plain transform across the band at -6 dB an octave, through
// Hann at -18 dB an octave from two bins away. So the band's power (noise,
// THD+N's residue) and every level a ratio is made of (harmonics, the
// intermodulation products and their tones) are read through Hann; the
// plain transform gives a tone's phasor (gain, phase, whether it came back).
// A-weighting counts the plain transform's spread up to 30 dB more than the
// hum itself (50 Hz at -80 dBFS with its harmonics read up to 0.8 dB high, by
// the hum's phase at the block's start); a product on the bin next to a
// 1000 Hz hum harmonic took 41 % of it.
#pragma once
#include <complex>
#include <cstdint>
#include <span>
#include <vector>

#include "analysis/deconvolve.hpp"

// Bins either side of a tone's that the notch removes as well: room for a
// tone that is not quite coherent (a fade's last trace, a slow wander) at the
// cost of 2 of the band's 13650 bins of noise (at 48 kHz), 0.0006 dB.
inline constexpr int64_t distortion_notch_bins = 1;

struct distortion_block {
    int64_t n = 0;
    double rate = 0.0;
    spectrum bins;  // 0 .. n/2
    spectrum hann;  // the same frames through a periodic Hann window
};

// The transform of frames[0 .. n) (n a power of two; frames at least n long).
distortion_block distortion_block_of(std::span<const float> frames, int64_t n, double rate);

// The tone on a bin as a phasor: its peak amplitude and its phase (cosine).
std::complex<double> distortion_phasor(const distortion_block& b, int64_t bin);

// The peak amplitude on a bin read through Hann: the power of the bin and
// the two beside it over the window's mean square (3/8). A coherent tone's
// whole power lies in those three bins, so it reads as distortion_phasor's
// magnitude; a tone that is not coherent adds what its spread puts there:
// 2 % of it from 3.5 bins away, 0.35 % from 5.5, 0.16 % from 6.7 (the plain
// transform's bin takes 9 %, 6 % and 4 %). No window tells apart two tones
// a bin or two apart (0.67 bin: 98 % through Hann, 41 % plain): the
// battery's tones keep their products clear of the mains' harmonics instead.
double distortion_amplitude(const distortion_block& b, int64_t bin);

// The RMS of the band (weighting.hpp), A-weighted or not, over every bin of
// the Hann transform but those within distortion_notch_bins of the bins in
// notch. Under Hann a coherent tone lies on its bin and the two beside it
// alone, which the notch removes whole; the window's mean square (3/8)
// keeps noise and every other tone at their power.
double distortion_band_rms(const distortion_block& b, bool a_weighted, std::span<const int64_t> notch);

// The mean power per bin of what the band holds beyond the notch, for a
// tone's standing above the noise.
double distortion_mean_bin_power(const distortion_block& b, std::span<const int64_t> notch);

// How far the tone on bin came back from it, in bins (positive: above), from
// the phase it gains from the block's first half to its second: a loop whose
// output and input run on two clocks (a resampler between them) returns the
// tone off its bin, and the block's edges then spread it over its neighbours
// (bin k + m holds offset / m of it), which no notch of a few bins removes.
// frames: the block's n frames.
double distortion_offset_bins(std::span<const float> frames, int64_t bin, int64_t n);

// The same for several tones, in one pass over the frames.
std::vector<double> distortion_offsets_bins(std::span<const float> frames, std::span<const int64_t> bins, int64_t n);

// The RMS, re the tone's, of what an offset spreads through Hann beyond the
// notch: offset x sqrt(pi^2 / 3 - 13 / 4), 0.19967 x offset.
double distortion_leakage(double offset_bins);
