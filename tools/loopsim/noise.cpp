#include "tools/loopsim/noise.hpp"

#include <algorithm>
#include <cmath>
#include <complex>

namespace loopsim {

namespace {

constexpr double pink_lowest_hz = 5.0;
constexpr double pink_tilt = 0.1;  // the zero at half the rate: (1 + tilt z^-1) / (1 + tilt)

// The sections' sum of squared impulse response, by running a unit impulse
// until the lowest pole's tail (time constant rate / (2 pi 5 Hz)) has died.
double energy(pink_filter f, double rate)
{
    const int64_t length = std::llrint(rate / (2.0 * M_PI * pink_lowest_hz)) * 40;
    double sum = 0.0;
    for (int64_t n = 0; n < length; n++) {
        const double y = pink_run(f, n == 0 ? 1.0 : 0.0);
        sum += y * y;
    }
    return sum;
}

}  // namespace

pink_filter pink_design(double rate, double white_rms, double rms)
{
    pink_filter f;
    // Matched z: a corner at hz becomes exp(-2 pi hz / rate). Corners near half
    // the rate would bend the slope; they stop at 0.45 of the rate.
    const double top = 0.45 * rate;
    for (int64_t i = 0; i < pink_max_sections; i++) {
        const double pole_hz = pink_lowest_hz * std::pow(10.0, static_cast<double>(i) / 4.0);
        if (pole_hz > top)
            break;
        f.pole[i] = std::exp(-2.0 * M_PI * pole_hz / rate);
        f.zero[i] = std::exp(-2.0 * M_PI * pole_hz * std::pow(10.0, 1.0 / 8.0) / rate);
        f.count = i + 1;
    }
    f.scale = 1.0;
    f.scale = rms / (white_rms * std::sqrt(energy(f, rate)));
    return f;
}

double pink_run(pink_filter& f, double white)
{
    double x = white;
    for (int64_t i = 0; i < f.count; i++) {
        const double y = x - f.zero[i] * f.x1[i] + f.pole[i] * f.y1[i];
        f.x1[i] = x, f.y1[i] = y;
        x = y;
    }
    const double tilted = (x + pink_tilt * f.tilt_x1) / (1.0 + pink_tilt);
    f.tilt_x1 = x;
    return f.scale * tilted;
}

double pink_power_at(const pink_filter& f, double hz, double rate)
{
    const std::complex<double> z1 = std::polar(1.0, -2.0 * M_PI * hz / rate);
    std::complex<double> h = f.scale * (1.0 + pink_tilt * z1) / (1.0 + pink_tilt);
    for (int64_t i = 0; i < f.count; i++)
        h *= (1.0 - f.zero[i] * z1) / (1.0 - f.pole[i] * z1);
    return std::norm(h);
}

}  // namespace loopsim
