// One bin of a coherent DFT: the complex amplitude (peak) of the cosine at a
// whole number of cycles over the span, directly, independent of loopsim.
#pragma once
#include <cmath>
#include <complex>
#include <vector>

inline std::complex<double> tone_at(const std::vector<double>& y, size_t first, size_t count, double hz, double rate)
{
    std::complex<double> sum = 0.0;
    for (size_t n = 0; n < count; n++) {
        // The phase from the index modulo the rate, so that it stays exact over long spans.
        const double cycles = std::fmod(hz * static_cast<double>(n), rate) / rate;
        sum += y[first + n] * std::polar(1.0, -2.0 * M_PI * cycles);
    }
    return 2.0 * sum / static_cast<double>(count);
}
