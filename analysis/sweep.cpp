// The stimulus sweep.
#include "analysis/sweep.hpp"

#include <cmath>
#include <numbers>

namespace {

// Frames of a raised-cosine fade-out at the end of the sweep, a share of its length.
constexpr double fade_out_share = 0.02;

// The frequency the sweep has reached after the share g of its spectral budget:
// the budget runs as knee * ln(f / low) below the knee and linearly above.
double sweep_frequency(double g, double top_hz)
{
    const double pink_budget = sweep_knee_hz * std::log(sweep_knee_hz / sweep_low_hz);
    const double budget = g * (pink_budget + (top_hz - sweep_knee_hz));
    if (budget <= pink_budget)
        return sweep_low_hz * std::exp(budget / sweep_knee_hz);
    return sweep_knee_hz + (budget - pink_budget);
}

}  // namespace

int64_t sweep_frames(double rate, bool long_sweep)
{
    // A power of two near 85 ms (1.4 s), whatever the rate.
    const double seconds = long_sweep ? 65536.0 / 48000.0 : 4096.0 / 48000.0;
    return int64_t{1} << std::lrint(std::log2(seconds * rate));
}

int64_t sweep_frames_response(double rate) { return std::lrint(40960.0 / 48000.0 * rate); }

std::vector<float> sweep_make(int64_t frames, double rate, double amplitude)
{
    std::vector<float> sweep(static_cast<size_t>(frames));
    const double top_hz = sweep_top_share * rate;
    const int64_t fade = std::lrint(fade_out_share * static_cast<double>(frames));
    double phase = 0.0;
    for (int64_t n = 0; n < frames; n++) {
        double gain = amplitude;
        if (n >= frames - fade)
            gain *= 0.5 + 0.5 * std::cos(std::numbers::pi * static_cast<double>(n - (frames - fade) + 1) / (fade + 1));
        sweep[n] = static_cast<float>(gain * std::sin(phase));
        phase += 2.0 * std::numbers::pi *
                 sweep_frequency(static_cast<double>(n) / static_cast<double>(frames), top_hz) / rate;
        phase = std::fmod(phase, 2.0 * std::numbers::pi);
    }
    return sweep;
}
