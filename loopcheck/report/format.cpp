// The number formatters.
#include "loopcheck/report/format.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

std::string report_count(int64_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string report_figure(const char* pattern, double a)
{
    char text[64], zero[64];
    std::snprintf(text, sizeof text, pattern, a);
    std::snprintf(zero, sizeof zero, pattern, 0.0);
    // A tiny negative prints as zero with a minus ("-0.0 dB", "-0.000 ppm"):
    // where the two first differ, a minus that is all that tells them apart
    // (zero's own sign there dropped too) goes, and zero is written instead.
    size_t at = 0;
    while (text[at] != '\0' && text[at] == zero[at])
        at++;
    if (text[at] != '-')
        return text;
    std::string minus_gone = text, sign_gone = zero;
    minus_gone.erase(at, 1);
    if (sign_gone[at] == '+')
        sign_gone.erase(at, 1);
    return minus_gone == sign_gone ? zero : text;
}

std::string report_latency_text(double latency, double uncertainty)
{
    // The last digit printed is the uncertainty's first significant one.
    const int decimals =
        uncertainty > 0.0 ? std::clamp(static_cast<int>(-std::floor(std::log10(uncertainty))), 0, 3) : 3;
    char value[64], plus[64];
    std::snprintf(value, sizeof value, "%.*f", decimals, latency);
    // One significant digit, rounded up, so that it never reads smaller than
    // it is (0.000097 reads 0.0001, with four decimals, not 0.00010).
    double scale = uncertainty > 0.0 ? std::pow(10.0, std::floor(std::log10(uncertainty))) : 0.001;
    const double digit = uncertainty > 0.0 ? std::ceil(uncertainty / scale * (1.0 - 1e-12)) : 0.0;
    if (digit >= 10.0)
        scale *= 10.0;
    const double shown = digit >= 10.0 ? scale : digit * scale;
    const int plus_decimals = std::max(0, static_cast<int>(std::lrint(-std::log10(scale))));
    std::snprintf(plus, sizeof plus, "%.*f", plus_decimals, shown);
    return std::string(value) + " ± " + plus;
}
