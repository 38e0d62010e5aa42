// Coherent tones and the dBFS scale.
#include "analysis/tones.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

int64_t tones_bin(double hz, double rate, int64_t n)
{
    const double cycles = hz * static_cast<double>(n) / rate;
    return std::max<int64_t>(1, 2 * std::lrint((cycles - 1.0) / 2.0) + 1);
}

double tones_hz(int64_t bin, double rate, int64_t n)
{
    return static_cast<double>(bin) * rate / static_cast<double>(n);
}

double tones_amplitude(double dbfs) { return std::pow(10.0, dbfs / 20.0); }

double tones_dbfs_of_amplitude(double amplitude)
{
    return amplitude > 0.0 ? std::max(tones_floor_dbfs, 20.0 * std::log10(amplitude)) : tones_floor_dbfs;
}

double tones_dbfs_of_rms(double rms) { return tones_dbfs_of_amplitude(rms * std::numbers::sqrt2); }

void tones_add(std::span<double> out, int64_t first, int64_t n, std::span<const tone> tones)
{
    const double step = 2.0 * std::numbers::pi / static_cast<double>(n);
    for (const tone& t : tones) {
        const int64_t bin = t.bin % n;
        int64_t phase = (bin * (first % n)) % n;  // bin x frame mod n, never overflowing
        for (double& v : out) {
            v += t.amplitude * std::cos(step * static_cast<double>(phase));
            phase += bin;
            if (phase >= n)
                phase -= n;
        }
    }
}
