// The command line: one value per option letter, and the buffer-size table.
#pragma once
#include <cstdint>
#include <string_view>

// Keeps the program's arguments for option_value (argument 0 is never read).
void option_set_args(int argc, char** argv);

// The value of option letter ("d", "b", "o", "t", "h", "?"): -1 when absent,
// else the number read from the matching argument's third character on.
// An argument matches when, lower-cased, it contains "-" or "/" followed by the
// letter anywhere; the last match wins; the first empty argument ends the scan.
int64_t option_value(std::string_view letter);

// Reads a number the way option_value does: leading blanks skipped; "&H", "&B",
// "&O" (either case) or a bare "&" give base 16, 2 or 8; otherwise an optional
// sign and decimal digits; 0 when no digits come. The value is taken as an
// unsigned 32-bit number (a minus sign gives the two's complement, too large a
// number 4294967295) and returned without sign extension.
int64_t option_read_number(std::string_view text);

// The buffer size after its fall-back and the stream's suggested latency:
// frames / 48000 cut off after six decimals. Sizes 8 .. largest (powers of two)
// are accepted; any other value becomes 64 with 0.001333 s.
struct buffer_setting {
    int64_t frames;
    double latency;
};
buffer_setting buffer_size_lookup(int64_t option, int64_t largest);
