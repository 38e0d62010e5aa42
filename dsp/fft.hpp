// In-place complex radix-2 FFT of 2048 points on separate real and imaginary
// float arrays, with program-wide twiddle and bit-reversal tables.
#pragma once
#include <cstdint>

inline constexpr int64_t fft_size = 2048;

// init != 0: build the tables and return without touching re and im.
// init == 0: transform re + j im in place; direction -1 forward (unscaled),
// +1 inverse (divided by 2048). Elements 0 .. 2047 are used; 2048 never.
void fft_2048(float* re, float* im, int64_t direction, int64_t init);

void fft_make_twiddles(float* cos_table, float* sin_table, int64_t n);
void fft_make_bitrev(int64_t* first, int64_t* second, int64_t& count, int64_t n);
void fft_bitrev_swap(float* a, const int64_t* first, const int64_t* second, int64_t count);
int64_t log2_int(int64_t n);

// Clears the tables back to their all-zero program-load state (tests only).
void fft_reset();
