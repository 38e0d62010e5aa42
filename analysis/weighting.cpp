// The band and IEC 61672's A-weighting.
#include "analysis/weighting.hpp"

#include <cmath>

namespace {

// The A-weighting's magnitude before normalisation: zeros at 0 Hz, poles at
// f1 (twice), f2, f3 and f4 (twice), as IEC 61672-1 gives them.
double a_unnormalised(double hz)
{
    constexpr double f1 = 20.598997, f2 = 107.65265, f3 = 737.86223, f4 = 12194.217;
    const double s = hz * hz;
    return f4 * f4 * s * s / ((s + f1 * f1) * std::sqrt((s + f2 * f2) * (s + f3 * f3)) * (s + f4 * f4));
}

}  // namespace

double weighting_band(double hz) { return hz >= weighting_band_low_hz && hz <= weighting_band_high_hz ? 1.0 : 0.0; }

double weighting_a_gain(double hz)
{
    static const double at_1khz = a_unnormalised(1000.0);
    return a_unnormalised(hz) / at_1khz;
}

double weighting_a_db(double hz) { return 20.0 * std::log10(weighting_a_gain(hz)); }
