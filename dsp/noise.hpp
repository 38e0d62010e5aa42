// Xorshift test-signal generators, each with one program-wide state.
// A non-zero seed replaces the state before the step; 0 continues the sequence.
#pragma once
#include <cstdint>

uint32_t rand_xs32(int32_t seed);    // raw 32-bit state
int32_t rand_sign32(int32_t seed);   // +1 or -1
uint32_t rand_xs64(uint64_t seed);   // low 32 bits of the 64-bit state
int32_t rand_sign64(uint64_t seed);  // +1 or -1

// Puts all four states back to their fixed initial values (tests only; the
// programs never reset the generators).
void rand_reset();

// The white-noise stimulus shared by the adaptive-filter programs:
// rand_sign32(0) * rand_xs32(0) * 0.1 / 2^31 in double, stored as float.
// Uniform in (-0.2, 0.2), never exactly 0.
float noise_stimulus_sample();
