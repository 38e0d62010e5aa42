// loopcheck's options and exit statuses, once: the parser takes its ranges
// from here, and --help and the man page are printed from it, so that what
// a user reads cannot drift from what the program does.
#pragma once
#include <span>
#include <string>

#include "loopcheck/outcome/status.hpp"

struct option_row {
    const char* names;  // as CLI11 takes them: "-d,--device"
    const char* value;  // the value's name ("INDEX|NAME"); "" for a flag
    const char* help;   // what it does, for --help: a sentence without its range
    const char* more;   // what the man page says besides ("" for nothing more)
    double min = 0.0;   // the range a number is checked against, when max > min
    double max = 0.0;
    const char* fallback = "";  // the default as a user writes it ("" when there is none to print)
    const char* within = "";    // the option it goes with, for the synopsis ("--monitor")
};

// One exit status: its number from the status table, a few words for --help,
// and what the man page says of it.
struct option_exit {
    check_status status;
    const char* help;
    const char* more;
};

std::span<const option_row> option_rows();
std::span<const option_exit> option_exits();

// The row of an option by any of its names ("--level", "-d"); nullptr if none.
const option_row* option_row_of(const std::string& name);

// "-80 to 0 (default -12)", "(default 0.05)" or "": the range and default as
// both --help and the man page print them.
std::string option_range_text(const option_row& row);

// The synopsis, --help's text and the man page's sections, each from the tables.
std::string option_synopsis();
std::string option_help_text();
std::string option_man_synopsis();
std::string option_man_options();
std::string option_man_exits();

// The valid option nearest to a name not known (by edit distance), "" when
// none is near enough to be what was meant.
std::string option_nearest(const std::string& name);
