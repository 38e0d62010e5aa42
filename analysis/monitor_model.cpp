// The model's phasors and its pass over the capture: the monitor's inner loop.
#include "analysis/monitor_model.hpp"

#include <cmath>

double monitor_model_delay_at(const monitor_model& m, int64_t frame)
{
    return m.delay + m.slope * static_cast<double>(frame - m.anchor);
}

void monitor_model_phasors(const monitor_model& m, int64_t frame, monitor_pass& p)
{
    // The whole frames of the delay go into the exact integer phase; only
    // the fraction meets the double's rounding.
    const double delay = monitor_model_delay_at(m, frame);
    const double whole = std::floor(delay);
    const int64_t played = frame - static_cast<int64_t>(whole);
    const double fraction = delay - whole;
    for (size_t k = 0; k < m.tones.size(); k++) {
        const monitor_tone& t = m.tones[k];
        const double phase = monitor_tone_phase(t, played) - t.omega * fraction;
        p.unit_re[k] = std::cos(phase);
        p.unit_im[k] = std::sin(phase);
        p.turn_re[k] = std::cos(t.omega * (1.0 - m.slope));
        p.turn_im[k] = std::sin(t.omega * (1.0 - m.slope));
    }
}

void monitor_model_run(const monitor_model& m, std::span<const float> y, int64_t first, monitor_pass& p)
{
    monitor_model_phasors(m, first, p);
    const size_t tones = m.tones.size();
    const bool accumulate = !p.acc_re.empty(), keep = !p.residue.empty(), inband = !p.cube_re.empty();
    const bool slope_out = !p.derivative.empty(), limits_out = !p.limits.empty(), signal_out = !p.signal.empty();
    p.sum = p.sum_squares = p.peak = p.peak_signal = 0.0;
    p.done = 0;
    p.last_over = -1;
    // Complex arithmetic written out: std::complex's multiply checks for
    // infinities on every call, which this loop cannot afford.
    for (size_t n = 0; n < y.size(); n++) {
        double signal = 0.0;
        for (size_t k = 0; k < tones; k++)
            signal += m.gain_re[k] * p.unit_im[k] + m.gain_im[k] * p.unit_re[k];
        const double square = signal * signal, cube = square * signal;
        const double r = static_cast<double>(y[n]) - m.dc - signal - m.square * square - m.cube * cube;
        const double size = std::fabs(signal);
        p.peak_signal = std::fmax(p.peak_signal, size);
        // A converter's distortion grows at the signal's peaks, which the
        // tones reach only now and then: the limit grows with them.
        double limit = p.limit;
        if (p.limit_level > 0.0 && size > p.limit_level) {
            const double excess = size / p.limit_level;
            limit *= excess * excess * excess;
        }
        if (p.limit > 0.0 && std::fabs(r) > limit) {
            if (p.stop) {
                if (p.work)
                    *p.work += static_cast<int64_t>((n + 1) * tones);
                return;
            }
            p.last_over = static_cast<int64_t>(n);
        }
        if (keep)
            p.residue[n] = r;
        if (limits_out)
            p.limits[n] = limit;
        if (signal_out)
            p.signal[n] = signal;
        if (slope_out) {
            // d q / d delay = -sum w_k Re(G_k A_k e^(i phase_k)), through the polynomial.
            double turn = 0.0;
            for (size_t k = 0; k < tones; k++)
                turn += m.tones[k].omega * (m.gain_re[k] * p.unit_re[k] - m.gain_im[k] * p.unit_im[k]);
            p.derivative[n] = -turn * (1.0 + 2.0 * m.square * signal + 3.0 * m.cube * square);
        }
        if (accumulate) {
            p.acc_square += r * square;
            p.acc_cube += r * cube;
            p.norm_square += square * square;
            p.norm_cube += cube * cube;
            p.sum_square += square;
            p.sum_cube += cube;
            p.cross += square * cube;
        }
        for (size_t k = 0; k < tones; k++) {
            if (accumulate) {
                p.acc_re[k] += r * p.unit_re[k];
                p.acc_im[k] -= r * p.unit_im[k];
            }
            if (inband) {
                p.cube_re[k] += cube * p.unit_re[k];
                p.cube_im[k] -= cube * p.unit_im[k];
                p.square_re[k] += square * p.unit_re[k];
                p.square_im[k] -= square * p.unit_im[k];
            }
            const double re = p.unit_re[k] * p.turn_re[k] - p.unit_im[k] * p.turn_im[k];
            p.unit_im[k] = p.unit_re[k] * p.turn_im[k] + p.unit_im[k] * p.turn_re[k];
            p.unit_re[k] = re;
        }
        p.sum += r;
        p.sum_squares += r * r;
        p.peak = std::fmax(p.peak, std::fabs(r));
        p.done = n + 1;
    }
    if (p.work)
        *p.work += static_cast<int64_t>(y.size() * tones);
}

double monitor_model_level(const monitor_model& m)
{
    double power = 0.0;
    for (size_t k = 0; k < m.tones.size(); k++)
        power += 0.5 * (m.gain_re[k] * m.gain_re[k] + m.gain_im[k] * m.gain_im[k]);
    return std::sqrt(power);
}

double monitor_model_curvature(const monitor_model& m)
{
    double bound = 0.0;
    for (size_t k = 0; k < m.tones.size(); k++)
        bound += std::hypot(m.gain_re[k], m.gain_im[k]) * m.tones[k].omega * m.tones[k].omega;
    return bound;
}

void monitor_model_move(monitor_model& m, int64_t at, double e, double de)
{
    m.delay = monitor_model_delay_at(m, at) + e;
    m.slope += de;
    m.anchor = at;
}
