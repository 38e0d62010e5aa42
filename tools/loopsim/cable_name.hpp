// The loop cable's ends as --cable names them, CLIENT[:OUT[:IN]]: which ports
// of which JACK client loopsim plugs itself into (cable.hpp does it).
#pragma once
#include <string>

namespace loopsim {

struct cable {
    std::string client;                              // empty: no cable
    std::string output = "out_0", input = "in_0";    // CLIENT's port names
    std::string output2 = "out_1", input2 = "in_1";  // the second pair's; empty: none
};

// Reads CLIENT[:OUT[:IN]]; false when it cannot.
bool cable_parse(const char* text, cable& c);

}  // namespace loopsim
