// The monitor's tones and their generator.
#include "analysis/monitor_stimulus.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace {

// Spread over the band on a roughly geometric grid, at least 240 Hz apart, so
// that a 21 ms Blackman-Harris window tells each from its neighbours.
constexpr double tone_hz[] = {317, 563, 941, 1427, 2053, 2791, 3719, 4817, 6131, 7687, 9479, 11597};

// Frames per stretch whose phasors are computed afresh, not rotated on.
constexpr int64_t fill_stretch = 256;

}  // namespace

monitor_stimulus monitor_stimulus_design(double rate, double level_dbfs)
{
    if (!(rate >= 8000.0 && rate <= 768000.0))
        throw std::invalid_argument("monitor: the rate must lie within 8000 .. 768000 Hz");
    if (!(level_dbfs >= -60.0 && level_dbfs <= monitor_max_level_dbfs))
        throw std::invalid_argument("monitor: the level must lie within -60 .. -13 dBFS");
    monitor_stimulus s;
    s.rate = rate;
    s.level_dbfs = level_dbfs;
    for (const double hz : tone_hz) {
        if (hz > 0.4 * rate)
            break;
        monitor_tone t;
        // The odd number of cycles per period nearest the tone.
        t.cycles = 2 * static_cast<int64_t>(std::floor(hz / rate * static_cast<double>(monitor_period) / 2.0)) + 1;
        t.omega = 2.0 * std::numbers::pi * static_cast<double>(t.cycles) / static_cast<double>(monitor_period);
        s.tones.push_back(t);
    }
    // Quadratic (Schroeder) phases keep the tones apart at the start; over a
    // long run incommensurate tones meet in every phase, so the peak tends to
    // the sum of their amplitudes: 12.3 dB over the RMS for twelve.
    const double count = static_cast<double>(s.tones.size());
    const double amplitude = std::pow(10.0, level_dbfs / 20.0) * std::sqrt(2.0 / count);
    for (size_t k = 0; k < s.tones.size(); k++) {
        const double i = static_cast<double>(k);
        s.tones[k].amplitude = amplitude;
        s.tones[k].phase = -std::numbers::pi * i * (i + 1.0) / count;
    }
    return s;
}

double monitor_tone_phase(const monitor_tone& tone, int64_t frame)
{
    int64_t within = frame % monitor_period;
    if (within < 0)
        within += monitor_period;
    // cycles and within are below 2^22: the product fits with room to spare.
    const int64_t turns = (tone.cycles * within) % monitor_period;
    return 2.0 * std::numbers::pi * static_cast<double>(turns) / static_cast<double>(monitor_period) + tone.phase;
}

void monitor_stimulus_fill(const monitor_stimulus& s, std::span<float> out, int64_t first_frame)
{
    // Every tone a frame, each turning its own phasor: one tone after another
    // made each frame wait for the tone's rotation before the next (its chain
    // of multiplications), where the tones' rotations can run side by side.
    // The same operations on each tone, and each frame's sum in the tones'
    // order, as before: the same bits.
    constexpr size_t group = 16;
    const int64_t frames = static_cast<int64_t>(out.size());
    for (int64_t start = 0; start < frames; start += fill_stretch) {
        const int64_t end = std::min(frames, start + fill_stretch);
        // No allocation: a ring refilled ahead of the callback may call this often.
        std::array<double, fill_stretch> sum{};
        for (size_t from = 0; from < s.tones.size(); from += group) {
            const size_t count = std::min(group, s.tones.size() - from);
            std::array<double, group> re{}, im{}, turn_re{}, turn_im{}, amplitude{};
            for (size_t k = 0; k < count; k++) {
                const monitor_tone& t = s.tones[from + k];
                const double phase = monitor_tone_phase(t, first_frame + start);
                re[k] = std::cos(phase), im[k] = std::sin(phase);
                turn_re[k] = std::cos(t.omega), turn_im[k] = std::sin(t.omega);
                amplitude[k] = t.amplitude;
            }
            for (int64_t n = start; n < end; n++) {
                double total = sum[n - start];
                for (size_t k = 0; k < count; k++) {
                    total += amplitude[k] * im[k];
                    const double next_re = re[k] * turn_re[k] - im[k] * turn_im[k];
                    im[k] = re[k] * turn_im[k] + im[k] * turn_re[k];
                    re[k] = next_re;
                }
                sum[n - start] = total;
            }
        }
        for (int64_t n = start; n < end; n++)
            out[n] = static_cast<float>(sum[n - start]);
    }
}
