// loopcheck's options and exit statuses, once: the parser takes its ranges
// from the table, and --help and the man page are printed from it, so that
// what a user reads cannot drift from what the program does. The table is
// the session's own rows with each mode's between them, in the mode table's
// order (modes.hpp: loopcheck_option_rows); every function here reads the
// table it is given.
#pragma once
#include <span>
#include <string>

#include "loopcheck/options/option_row.hpp"
#include "loopcheck/outcome/status.hpp"

// One exit status: its number from the status table, a few words for --help,
// and what the man page says of it.
struct option_exit {
    check_status status;
    const char* help;
    const char* more;
};

// The session's own rows: the stream's (devices, rate, buffer, channels),
// the output's (--json, --report, -q), and the program's (--help, --version).
std::span<const option_row> option_stream_rows();
std::span<const option_row> option_output_rows();
std::span<const option_row> option_program_rows();
std::span<const option_exit> option_exits();

// The row of an option by any of its names ("--level", "-d"); nullptr if none.
const option_row* option_row_of(std::span<const option_row> rows, const std::string& name);

// "-80 to 0 (default -12)", "2 s to 1000 h (default 10)", "(default 0.05)"
// or "": the range and default as both --help and the man page print them.
std::string option_range_text(const option_row& row);
// The range alone, as the readers' refusals give it: "-80 to 0", "2 s to 1000 h"; "" for none.
std::string option_bounds_text(const option_row& row);

// The synopsis, --help's text and the man page's sections, each from the tables.
std::string option_synopsis(std::span<const option_row> rows);
std::string option_help_text(std::span<const option_row> rows);
std::string option_man_synopsis(std::span<const option_row> rows);
std::string option_man_options(std::span<const option_row> rows);
std::string option_man_exits(std::span<const option_row> rows);

// The valid option nearest to a name not known (by edit distance), "" when
// none is near enough to be what was meant.
std::string option_nearest(std::span<const option_row> rows, const std::string& name);
