// Writes loopcheck's man page source: the template (man/loopcheck.1.scd)
// with its synopsis, options and exit statuses printed from the option table
// that --help prints, and the version filled in.
//
//   loopcheck_man TEMPLATE OUTPUT VERSION
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "loopcheck/modes.hpp"
#include "loopcheck/options/option_table.hpp"

namespace {

// Every place of marker in text replaced by with; false when there is none.
bool fill(std::string& text, const std::string& marker, const std::string& with)
{
    bool found = false;
    for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + with.size())) {
        text.replace(at, marker.size(), with);
        found = true;
    }
    return found;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fputs("usage: loopcheck_man TEMPLATE OUTPUT VERSION\n", stderr);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        std::fprintf(stderr, "loopcheck_man: cannot read %s\n", argv[1]);
        return 1;
    }
    // A template without one of the markers would give a page without that section.
    const std::span<const option_row> rows = loopcheck_option_rows();
    const std::pair<const char*, std::string> sections[] = {{"@SYNOPSIS@", option_man_synopsis(rows)},
                                                            {"@OPTIONS@", option_man_options(rows)},
                                                            {"@EXIT_STATUS@", option_man_exits(rows)},
                                                            {"@PROJECT_VERSION@", argv[3]}};
    for (const auto& [marker, with] : sections)
        if (!fill(text, marker, with)) {
            std::fprintf(stderr, "loopcheck_man: %s has no %s\n", argv[1], marker);
            return 1;
        }
    std::ofstream out(argv[2], std::ios::binary);
    out << text;
    if (!out) {
        std::fprintf(stderr, "loopcheck_man: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
