// The normalised-LMS step shared by the adaptive callbacks.
#include "dsp/adaptive.hpp"

#include "dsp/vector.hpp"

#include <algorithm>
#include <cmath>

void nlms_step(float stimulus, float captured, float* history, float* taps, int64_t length, int64_t& history_pos,
               int64_t& update_pos, float& power, double power_memory, double step_constant)
{
    const float prediction = delay_line_dot(stimulus, history, taps, length, history_pos);
    const float error = (std::isfinite(captured) ? captured : 0.0f) - prediction;
    // Rounding: the power and the step in double precision, each stored as
    // float; the step divides by the power just stored. 1 - power_memory is
    // evaluated in double (1 - 0.9995 = 0.0004999999999999449).
    const double s = stimulus;
    power = static_cast<float>(power_memory * static_cast<double>(power) + (1.0 - power_memory) * (s * s));
    const float step = static_cast<float>(static_cast<double>(error) * step_constant / static_cast<double>(power));
    ring_axpy(taps, step, history, length, update_pos);
}

void nlms_clear(float* history, float* taps, int64_t length)
{
    std::fill(history, history + 2 * length + 1, 0.0f);
    std::fill(taps, taps + length + 1, 0.0f);
}

void nlms_reset(float* history, float* taps, int64_t length, int64_t& history_pos, int64_t& update_pos, float& power)
{
    nlms_clear(history, taps, length);
    history_pos = 0;
    update_pos = 0;
    power = 1.0f;
}
