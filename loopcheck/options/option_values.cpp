// The values' look-ups and the shared checks of numbers and durations.
#include "loopcheck/options/option_values.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>

bool option_given(const option_values& v, const std::string& name) { return v.given.count(name) > 0; }

std::string option_text(const option_values& v, const std::string& name, const std::string& fallback)
{
    const auto at = v.texts.find(name);
    return at == v.texts.end() || !option_given(v, name) ? fallback : at->second;
}

double option_number(const option_values& v, const std::string& name, double fallback)
{
    return option_given(v, name) ? std::strtod(option_text(v, name).c_str(), nullptr) : fallback;
}

std::string options_number(const std::string& text, double min, double max, double& value)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    value = std::strtod(begin, &end);
    if (text.empty() || end == begin || *end != '\0')
        return "\"" + text + "\" is not a number";
    if (!std::isfinite(value))
        return "\"" + text + "\" is not a finite number";
    if (value < min || value > max) {
        char range[96];
        std::snprintf(range, sizeof range, "%g to %g", min, max);
        return "\"" + text + "\" is outside " + range;
    }
    return "";
}

std::string options_duration(const std::string& text, double& seconds)
{
    const std::string refused =
        "\"" + text + "\" is not a duration (30s, 10m or 10min, 8h, 1h30m; a bare number is seconds; 0: until Ctrl-C)";
    if (text.empty())
        return refused;
    double total = 0.0, last_unit = INFINITY;
    for (size_t at = 0; at < text.size();) {
        // A decimal number: digits and a point only, so that no sign, exponent,
        // "inf" or "nan" gets through to strtod.
        size_t end = at;
        while (end < text.size() && ((text[end] >= '0' && text[end] <= '9') || text[end] == '.'))
            end++;
        double value = 0.0;
        // The number's own range first, so that "1e999h" is refused, not infinite.
        if (end == at || !options_number(text.substr(at, end - at), 0.0, options_longest_s, value).empty())
            return refused;
        double unit = 0.0;
        if (text.compare(end, 3, "min") == 0)
            unit = 60.0, end += 3;
        else if (end < text.size() && (text[end] == 'h' || text[end] == 'm' || text[end] == 's'))
            unit = text[end] == 'h' ? 3600.0 : text[end] == 'm' ? 60.0 : 1.0, end++;
        else if (at == 0 && end == text.size())
            unit = 1.0;  // a bare number: seconds
        // Each unit once, the largest first: "1h30" and "30m1h" are refused, not guessed.
        if (unit == 0.0 || unit >= last_unit)
            return refused;
        last_unit = unit;
        total += value * unit;
        at = end;
    }
    seconds = total;
    return "";
}
