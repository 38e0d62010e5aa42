// What every renderer of the results shares: the cases' names, a figure in
// words, numbers, and XML's escaping.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>

#include "loopcheck/results/results.hpp"

namespace {

// The length of the UTF-8 sequence at text[i] and its code point; 0 when it is not one (overlong,
// a surrogate, beyond U+10FFFF, cut short).
size_t utf8_at(const std::string& text, size_t i, uint32_t& code)
{
    const auto byte = [&text](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = byte(i);
    size_t length = 0;
    if (c < 0x80)
        return code = c, 1;
    if (c >= 0xC2 && c <= 0xDF)
        length = 2, code = c & 0x1Fu;
    else if (c >= 0xE0 && c <= 0xEF)
        length = 3, code = c & 0x0Fu;
    else if (c >= 0xF0 && c <= 0xF4)
        length = 4, code = c & 0x07u;
    else
        return 0;
    if (i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; k++) {
        if ((byte(i + k) & 0xC0u) != 0x80u)
            return 0;
        code = (code << 6) | (byte(i + k) & 0x3Fu);
    }
    const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

// Whether XML 1.0 holds the character at all.
bool xml_char(uint32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           c >= 0x10000;
}

}  // namespace

const char* results_direction_name(check_direction d)
{
    switch (d) {
    case check_direction::lower: return "lower";
    case check_direction::higher: return "higher";
    case check_direction::closer: return "closer";
    case check_direction::none: break;
    }
    return "";
}

std::vector<std::string> results_case_names(const results_mode& mode)
{
    std::vector<std::string> names;
    std::map<std::string, int> seen;
    for (const mode_check& c : mode.checks) {
        const int n = ++seen[c.name];
        names.push_back(n == 1 ? c.name : c.name + " #" + std::to_string(n));
    }
    return names;
}

std::string results_number(double value)
{
    if (!std::isfinite(value))
        return std::isnan(value) ? "nan" : value > 0 ? "inf" : "-inf";
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

std::string results_figure_text(const mode_check& c)
{
    std::string text;
    const std::string unit = c.unit.empty() ? "" : " " + c.unit;
    if (c.value)
        text = (c.bound ? "< " : "") + results_number(*c.value) + unit;
    const auto add = [&text](const std::string& words) { text += (text.empty() ? "" : ", ") + words; };
    if (c.min && c.max)
        add("within " + results_number(*c.min) + " to " + results_number(*c.max) + unit);
    else if (c.max)
        add("at most " + results_number(*c.max) + unit);
    else if (c.min)
        add("at least " + results_number(*c.min) + unit);
    if (c.direction == check_direction::closer)
        add("closer to its bounds' middle is better");
    else if (c.direction != check_direction::none)
        add(std::string(results_direction_name(c.direction)) + " is better");
    return text;
}

std::string results_xml_escaped(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        uint32_t code = 0;
        const size_t length = utf8_at(text, i, code);
        if (length == 0 || !xml_char(code)) {
            out += "\xEF\xBF\xBD";  // U+FFFD
            i += length == 0 ? 1 : length;
            continue;
        }
        switch (code) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        case '\r':
            out += "&#13;";  // kept: a parser turns a raw CR into LF
            break;
        default: out.append(text, i, length);
        }
        i += length;
    }
    return out;
}
