// A plain DFT in double, independent of the library's FFT: the expected levels
// that tests compare a measured or printed response with.
#pragma once
#include <cmath>
#include <cstdint>
#include <vector>

// 10 log10(|H(k)|^2 + floor) for bins 0 .. 1023 of the 2048-point DFT of period
// (2048 values).
inline std::vector<double> direct_dft_levels(const std::vector<double>& period, double floor)
{
    std::vector<double> level(1024);
    for (int64_t k = 0; k < 1024; k++) {
        double re = 0.0, im = 0.0;
        for (int64_t n = 0; n < 2048; n++) {
            const double angle = -2.0 * M_PI * static_cast<double>((k * n) % 2048) / 2048.0;
            re += period[n] * std::cos(angle);
            im += period[n] * std::sin(angle);
        }
        level[k] = 10.0 * std::log10(re * re + im * im + floor);
    }
    return level;
}
