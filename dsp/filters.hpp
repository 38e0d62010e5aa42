// The software-loopback path: a two-sample delay followed by a high-pass biquad
// in z^-2. Both keep program-wide float state, zero at program load.
#pragma once

float delay2(float x);           // the input of two calls earlier
float highpass_biquad(float x);  // y = k1 (x - 2 x[-2] + x[-4]) + k2 y[-2] - k3 y[-4]

// Puts both filter states back to zero (tests only).
void loopback_filters_reset();
