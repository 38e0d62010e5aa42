// loopsim's command line: every option read and checked before loopsim looks
// for a server (the checks that depend on the server's rate come once it is
// known), or refused with one line that names it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/loopsim/cable_name.hpp"
#include "tools/loopsim/loop.hpp"
#include "tools/loopsim/starts.hpp"

namespace loopsim {

// The usage --help prints: the synopsis and a line for each option, its name
// and value ("  --delay N   ...") at the start of the line.
extern const char* const command_usage;

struct command {
    loop_options loop;
    std::string name = "loopsim";  // the JACK client's
    cable plug;                    // --cable
    std::string log_name;          // --log; empty: standard output
    starts start_delays;           // --start-delays: a new delay at each start of the client plugged into
    // The --print- mode asked for ("--print-ir", ...; empty: run as a client),
    // and its count, frequency, tones and channel.
    std::string print_mode;
    int64_t print_count = 0, print_channel = 1;
    double print_hz = 0.0;
    std::vector<double> tones;
};

enum class command_next { run, help, refused };

// Reads argv into c. Refused: why in problem, one line that names the option
// (unknown, with the nearest valid one when one is close: "unknown option
// --dealy: did you mean --delay?"; missing its value; a value that does not
// read; a value out of its range), without "loopsim: " or a newline.
command_next command_parse(int argc, char** argv, command& c, std::string& problem);

}  // namespace loopsim
