// The periodic flat-spectrum sweep: one 2048-sample period built at start-up by
// an inverse FFT of a unit-magnitude spectrum with a quadratic phase.
#include <cmath>

#include "dsp/fft.hpp"
#include "rtresponse/state.hpp"
#include "rtresponse/sweep.hpp"

// Bin m gets phase -2 pi m^2 / 2048 (a linear sweep from 0 Hz to half the sample
// rate over the period), mirrored as a conjugate so that the period is real.
// Every bin of the result's forward transform has the magnitude 32 * 0.95 = 30.4.
void build_sweep_table()
{
    using namespace rtresponse;
    spectrum_re[1024] = 1.0f;
    spectrum_im[1024] = 0.0f;
    for (int64_t m = 0; m <= 1023; m++) {
        // Rounding: the phase is formed in double with the shortened 2 pi
        // 6.2831852 and stored as float; cos and sin are taken in double of that
        // float and stored as float.
        const float phase = static_cast<float>(static_cast<double>(m * m) * (-6.2831852) / 2048.0);
        spectrum_re[m] = static_cast<float>(std::cos(static_cast<double>(phase)));
        spectrum_im[m] = static_cast<float>(std::sin(static_cast<double>(phase)));
    }
    for (int64_t m = 1; m <= 1023; m++) {
        spectrum_re[2048 - m] = spectrum_re[m];
        spectrum_im[2048 - m] = -spectrum_im[m];
    }
    fft_2048(spectrum_re, spectrum_im, 1, 0);
    // Rounding: scaled in double, (re * 32) * 0.95, stored as float. The
    // imaginary parts are rounding residue and are dropped.
    for (int64_t n = 0; n < 2048; n++)
        sweep_table[n] = static_cast<float>(static_cast<double>(spectrum_re[n]) * 32.0 * 0.95);
}
