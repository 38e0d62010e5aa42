// Tones coherent with the analysis block: a whole, odd number of cycles in a
// block of a power of two frames. Every tone, harmonic and intermodulation
// product then lies exactly on a bin of the block's transform, so the
// analysis needs no window and a tone's power sits in one bin; an odd count
// makes every frame of the block a different phase of the tone, so that the
// float32 rounding of the stimulus spreads as noise instead of gathering into
// harmonics. The price: the tone lies up to one bin from the nominal frequency
// (996.9 Hz or 997.5 Hz, not 997 Hz), and the figures carry the actual one.
#pragma once
#include <cstdint>
#include <span>

// Below it, a level in dBFS reads as this floor (digital silence).
inline constexpr double tones_floor_dbfs = -300.0;

struct tone {
    int64_t bin = 0;         // cycles per block
    double amplitude = 0.0;  // peak, linear (1: full scale)
};

// The odd bin nearest hz in a block of n frames at the rate (at least 1).
int64_t tones_bin(double hz, double rate, int64_t n);

// The frequency of a bin.
double tones_hz(int64_t bin, double rate, int64_t n);

// The peak amplitude of a sine at dbfs: 0 dBFS is the sine whose peak just
// reaches full scale (AES17), so its RMS is 1/sqrt(2).
double tones_amplitude(double dbfs);

// dBFS of an amplitude (peak) and of an RMS value, floored at tones_floor_dbfs.
double tones_dbfs_of_amplitude(double amplitude);
double tones_dbfs_of_rms(double rms);

// Adds the cosines of tones, periodic in n frames, to out; out[i] is frame
// first + i of the stimulus. The phase is taken from (bin x frame) mod n in
// integers, so the block is exactly periodic however long the stimulus.
void tones_add(std::span<double> out, int64_t first, int64_t n, std::span<const tone> tones);
