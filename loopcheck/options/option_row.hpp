// One row of loopcheck's option table: an option's names, its value's name,
// its words for --help and the man page, its range and default. The common
// rows are the option table's own (option_table.cpp); a mode's rows are in
// its folder, and the mode table puts them all together in order.
#pragma once

// How a value is read. The parser checks number and whole itself, against
// the row's range (CLI11's words); a mode reads text and duration values itself,
// against the same range, with words of its own.
enum class option_kind {
    flag,      // no value
    text,      // read by its mode (names, lists, pairs, numbers with words of their own)
    number,    // a real number within min..max, checked by the parser
    whole,     // a whole number within min..max, checked by the parser
    duration,  // 30s, 10min, 1h30m (options_duration), read by its mode within min..max seconds
};

struct option_row {
    const char* names;  // as CLI11 takes them: "-d,--device"
    const char* value;  // the value's name ("INDEX|NAME"); "" for a flag
    const char* help;   // what it does, for --help: a sentence without its range
    const char* more;   // what the man page says besides ("" for nothing more)
    double min = 0.0;   // the range a number is checked against, when max > min
    double max = 0.0;
    const char* fallback = "";  // the default as a user writes it ("" when there is none to print)
    const char* within = "";    // the option it goes with, for the synopsis ("--monitor")
    option_kind kind = option_kind::text;
};
