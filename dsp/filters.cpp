// Software-loopback filters: a two-sample delay and a high-pass biquad in z^-2,
// each with program-wide float state that starts at zero.
#include "dsp/filters.hpp"

namespace {

// Second-order high-pass, Q 0.7071, 40 Hz at 48000 Hz; run in z^-2 it falls 3 dB at
// 20 Hz and has zeros at 0 Hz and 24000 Hz.
constexpr double hp_k1 = 0.9963044429897594;
constexpr double hp_k2 = 1.9925952288437763;
constexpr double hp_k3 = 0.9926225431269651;

float delay_older = 0.0f;  // input of two calls back
float delay_newer = 0.0f;  // input of one call back

// hp_in[k] / hp_out[k]: input / output k + 1 calls back. Only k = 1 and 3 enter the
// formula; k = 0 and 2 carry the samples until they are due.
float hp_in[4] = {0.0f, 0.0f, 0.0f, 0.0f};
float hp_out[4] = {0.0f, 0.0f, 0.0f, 0.0f};

}  // namespace

// Returns the input of two calls earlier.
float delay2(float x)
{
    const float r = delay_older;
    delay_older = delay_newer;
    delay_newer = x;
    return r;
}

// y = k1 (x - 2 x[-2] + x[-4]) + k2 y[-2] - k3 y[-4]. Rounding: evaluated in double
// in exactly this order on the float history, rounded to float once; the stored
// float output is what feeds back. Branch-free, called per frame on the audio thread.
float highpass_biquad(float x)
{
    const double v =
        ((static_cast<double>(x) - 2.0 * static_cast<double>(hp_in[1])) + static_cast<double>(hp_in[3])) * hp_k1 +
        hp_k2 * static_cast<double>(hp_out[1]) - hp_k3 * static_cast<double>(hp_out[3]);
    const float y = static_cast<float>(v);
    hp_in[3] = hp_in[2];
    hp_in[2] = hp_in[1];
    hp_in[1] = hp_in[0];
    hp_in[0] = x;
    hp_out[3] = hp_out[2];
    hp_out[2] = hp_out[1];
    hp_out[1] = hp_out[0];
    hp_out[0] = y;
    return y;
}

void loopback_filters_reset()
{
    delay_older = 0.0f;
    delay_newer = 0.0f;
    for (int k = 0; k < 4; ++k) {
        hp_in[k] = 0.0f;
        hp_out[k] = 0.0f;
    }
}
