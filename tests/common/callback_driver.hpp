// Helpers shared by the tests of the adaptive-filter callbacks: the stimulus
// re-derived independently of the library, and one-frame calls.
#pragma once
#include <gtest/gtest.h>
#include <portaudio.h>

#include <cstdint>

// The stimulus re-derived from scratch: two xorshift32 generators from
// 0x5A0FA5F0, the sign one with shifts (5, 13, 16), the value one with
// (3, 13, 7); sample = sign * value * 0.1 / 2^31 in double, stored as float.
struct reference_noise {
    uint32_t sign_state = 0x5A0FA5F0u;
    uint32_t value_state = 0x5A0FA5F0u;

    float next()
    {
        sign_state ^= sign_state << 5;
        sign_state ^= sign_state >> 13;
        sign_state ^= sign_state << 16;
        value_state ^= value_state << 3;
        value_state ^= value_state >> 13;
        value_state ^= value_state << 7;
        const double sign = (sign_state & 1u) ? 1.0 : -1.0;
        return static_cast<float>(sign * static_cast<double>(value_state) * 0.1 / 2147483648.0);
    }
};

// One output frame of a callback.
struct frame_out {
    float left;
    float right;
};

// One call of callback for one frame; returns the output frame. The output is
// pre-filled with -7 so that anything left unwritten shows.
inline frame_out call_frame(PaStreamCallback* callback, float in_left, float in_right)
{
    const float in[2] = {in_left, in_right};
    float out[2] = {-7.0f, -7.0f};
    EXPECT_EQ(callback(in, out, 1, nullptr, 0, nullptr), paContinue);
    return {out[0], out[1]};
}
