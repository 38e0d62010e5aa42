// The command line's values as the parser read them, and the checks every
// reader of a value shares: a number with nothing after it, finite and in its
// range; a duration as people write it. A leaf: the parser, the option table
// and every mode's reader include it, and it includes nothing of loopcheck's.
#pragma once
#include <map>
#include <set>
#include <string>

// What the command line gave, by each option's long name ("--level", "-q" for
// one that has none): its value as typed ("" for a flag), and whether it was given.
struct option_values {
    std::map<std::string, std::string> texts;
    std::set<std::string> given;
};

// Whether the option was on the command line.
bool option_given(const option_values& values, const std::string& name);

// Its value as typed, or fallback when it was not given.
std::string option_text(const option_values& values, const std::string& name, const std::string& fallback = "");

// A number the parser has checked already (against its row's range), or fallback.
double option_number(const option_values& values, const std::string& name, double fallback);

// A number with nothing after it, finite and within min..max; "" or why not.
std::string options_number(const std::string& text, double min, double max, double& value);

// "30s", "10m" or "10min", "8h", "1h30m" (units largest first, each once),
// "90" (a bare number: seconds) or "0": seconds in seconds, at most 1000 h.
// "" or why not (the words say how a duration is written); the range is the reader's.
std::string options_duration(const std::string& text, double& seconds);

// The longest duration any option takes: 1000 h.
inline constexpr double options_longest_s = 1000.0 * 3600.0;
