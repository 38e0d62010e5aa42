// The console table of devices and buffer sizes: its fixed lines and its rows.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// First header line: "PortAudio", 48 blanks, "buffer size" (68 characters).
inline constexpr std::string_view listing_title =
    "PortAudio                                                buffer size";
// Second header line: "device index", 2 blanks, "name", 39 blanks, "min/max" (64 characters).
inline constexpr std::string_view listing_columns = "device index  name                                       min/max";
// The rule under the header and under the rows: 68 "-".
inline constexpr std::string_view listing_rule = "--------------------------------------------------------------------";

// One device's row: the index right-aligned in two characters ("%" and the
// whole number when it is wider), 12 blanks, the name, blanks up to 43 bytes
// of name, then min/max in plain digits.
std::string listing_row(int64_t index, std::string_view name, long min, long max);

// The last line: "hit any key to exit", 20 blanks, the maker's notice; it ends
// in the rule's last column.
std::string listing_closing_line();

// What follows a row whose device cannot open the programs' stream of two
// channels each way: "  (needs 2 in, 2 out; has I in, O out)"; "" otherwise.
std::string listing_channel_note(int inputs, int outputs);

// What follows the row of a one-way device (WMME, DirectSound, WASAPI): the
// two devices that -dN opens, "  (-dN: in I, out O)".
std::string listing_pair_note(int64_t device, int64_t input, int64_t output);
