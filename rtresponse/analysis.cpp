// One refresh's analysis: the published period's spectrum as levels in dB.
#include <cmath>

#include "dsp/fft.hpp"
#include "rtresponse/analysis.hpp"
#include "rtresponse/state.hpp"

// The rest of both arrays, beyond the levels, is transform residue.
void response_analysis()
{
    using namespace rtresponse;
    for (int64_t i = 0; i < 2048; i++) {
        spectrum_re[i] = display_snapshot[i];
        spectrum_im[i] = 0.0f;
    }
    fft_2048(spectrum_re, spectrum_im, -1, 0);
    for (int64_t k = 0; k < 1024; k++) {
        // Rounding: the power in float; the level in double (the 1e-19 floor
        // keeps silence at -190 dB), stored as float.
        const float power = spectrum_re[k] * spectrum_re[k] + spectrum_im[k] * spectrum_im[k];
        spectrum_re[k] = static_cast<float>(10.0 * std::log10(static_cast<double>(power) + 1e-19));
    }
}
