// The axis ticks and their labels.
#include "writers/ticks.hpp"

#include <algorithm>
#include <cmath>

#include "writers/svg.hpp"

double ticks_step(double span, int max_count)
{
    if (!(span > 0.0) || !std::isfinite(span) || max_count < 1)
        return 0.0;
    const double raw = span / max_count;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (m * magnitude >= raw * (1.0 - 1e-9))
            return m * magnitude;
    return 10.0 * magnitude;
}

std::vector<double> ticks_linear(double lo, double hi, int max_count)
{
    std::vector<double> ticks;
    const double step = ticks_step(hi - lo, max_count);
    if (step == 0.0)
        return ticks;
    const double first = std::ceil(lo / step - 1e-9);
    const double last = std::floor(hi / step + 1e-9);
    for (double k = first; k <= last; k++)
        ticks.push_back(k == 0.0 ? 0.0 : k * step);
    return ticks;
}

std::vector<log_tick> ticks_log(double lo, double hi)
{
    std::vector<log_tick> ticks;
    if (!(lo > 0.0) || !(hi > lo) || !std::isfinite(hi))
        return ticks;
    const int first = static_cast<int>(std::floor(std::log10(lo)));
    const int last = static_cast<int>(std::ceil(std::log10(hi)));
    const bool only_decades = last - first > 5;
    int labelled = 0;
    for (int n = first; n <= last; n++)
        for (int m = 1; m <= 9; m++) {
            const double value = m * std::pow(10.0, n);
            if (value < lo * (1.0 - 1e-9) || value > hi * (1.0 + 1e-9))
                continue;
            const bool label = m == 1 || (!only_decades && (m == 2 || m == 5));
            ticks.push_back({value, label});
            labelled += label;
        }
    if (labelled < 2)
        for (log_tick& t : ticks)
            t.labelled = true;
    return ticks;
}

std::string ticks_label(double value, double step)
{
    const int decimals = step > 0.0 ? std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9))) : 0;
    return svg_number(value, decimals);
}

std::string ticks_label_hz(double hz)
{
    if (std::fabs(hz) >= 1000.0)
        return svg_number(hz / 1000.0, 2) + 'k';
    return svg_number(hz, 2);
}
