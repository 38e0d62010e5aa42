// Command-line options and the buffer-size table.
#include "frame/options.hpp"

#include <cctype>
#include <string>

namespace {

int option_argc = 0;
char** option_argv = nullptr;

int digit_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
}

constexpr uint64_t too_large = 0x100000000ull;

// Accumulates digits of base from text[i] on; too_large once past 32 bits.
uint64_t read_digits(std::string_view text, size_t i, int base)
{
    uint64_t value = 0;
    for (; i < text.size() && digit_value(text[i]) < base; i++) {
        value = value * base + digit_value(text[i]);
        if (value >= too_large)
            return too_large;
    }
    return value;
}

}  // namespace

void option_set_args(int argc, char** argv)
{
    option_argc = argc;
    option_argv = argv;
}

int64_t option_read_number(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        i++;
    uint64_t value = 0;
    if (i < text.size() && text[i] == '&') {
        const char kind = i + 1 < text.size() ? static_cast<char>(std::tolower(text[i + 1])) : '\0';
        if (kind == 'h')
            value = read_digits(text, i + 2, 16);
        else if (kind == 'b')
            value = read_digits(text, i + 2, 2);
        else if (kind == 'o')
            value = read_digits(text, i + 2, 8);
        else
            value = read_digits(text, i + 1, 8);
    } else {
        bool negative = false;
        if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
            negative = text[i] == '-';
            i++;
        }
        value = read_digits(text, i, 10);
        if (negative && value < too_large)
            value = (too_large - value) & 0xFFFFFFFFull;
    }
    if (value >= too_large)
        value = 0xFFFFFFFFull;
    return static_cast<int64_t>(value);
}

int64_t option_value(std::string_view letter)
{
    int64_t result = -1;
    for (int i = 1; i < option_argc && option_argv[i] && option_argv[i][0] != '\0'; i++) {
        std::string argument = option_argv[i];
        for (char& c : argument)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (argument.find(std::string("-").append(letter)) == std::string::npos &&
            argument.find(std::string("/").append(letter)) == std::string::npos)
            continue;
        result = argument.size() > 2 ? option_read_number(std::string_view(argument).substr(2)) : 0;
    }
    return result;
}

buffer_setting buffer_size_lookup(int64_t option, int64_t largest)
{
    for (int64_t frames = 8; frames <= largest; frames *= 2)
        if (option == frames) {
            // Cut off after six decimals, not rounded: 256 frames give 0.005333.
            const int64_t microseconds = frames * 1000000 / 48000;
            return {frames, static_cast<double>(microseconds) / 1e6};
        }
    return {64, 0.001333};
}
