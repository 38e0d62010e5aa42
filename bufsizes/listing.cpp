// Text of the device table: rows and the closing line.
#include "bufsizes/listing.hpp"

#include "frame/startup.hpp"

namespace {

// Index column: two characters wide, right-aligned; a wider number is shown
// whole behind a "%" and pushes the rest of the row to the right.
constexpr size_t index_width = 2;
constexpr size_t index_gap = 12;
// Name column: the sizes start 43 bytes after the name's first byte, or right
// after a longer name.
constexpr size_t name_width = 43;

}  // namespace

std::string listing_row(int64_t index, std::string_view name, long min, long max)
{
    const std::string digits = std::to_string(index);
    std::string row;
    if (digits.size() <= index_width)
        row.append(index_width - digits.size(), ' ');
    else
        row += '%';
    row += digits;
    row.append(index_gap, ' ');
    row += name;
    if (name.size() < name_width)
        row.append(name_width - name.size(), ' ');
    row += std::to_string(min);
    row += '/';
    row += std::to_string(max);
    return row;
}

std::string listing_channel_note(int inputs, int outputs)
{
    if (inputs >= 2 && outputs >= 2)
        return "";
    return "  (needs 2 in, 2 out; has " + std::to_string(inputs) + " in, " + std::to_string(outputs) + " out)";
}

std::string listing_pair_note(int64_t device, int64_t input, int64_t output)
{
    return "  (-d" + std::to_string(device) + ": in " + std::to_string(input) + ", out " + std::to_string(output) + ")";
}

std::string listing_closing_line()
{
    std::string line = "hit any key to exit";
    line.append(20, ' ');
    line += maker_notice;
    return line;
}
