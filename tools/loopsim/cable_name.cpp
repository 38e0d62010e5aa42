#include "tools/loopsim/cable_name.hpp"

#include <cstdlib>

namespace loopsim {

namespace {

// A 1-based channel N as PortAudio's port PREFIX<N-1> and the next channel's
// as next; a name stands as it is, with no next.
bool cable_port_name(const std::string& text, const char* prefix, std::string& name, std::string& next)
{
    if (text.empty())
        return false;
    if (text.find_first_not_of("0123456789") != std::string::npos) {
        name = text;
        next.clear();
        return true;
    }
    if (text.size() > 6)  // no device has a million channels; atol stays in range
        return false;
    const long channel = std::atol(text.c_str());
    name = prefix + std::to_string(channel - 1);
    next = prefix + std::to_string(channel);
    return channel >= 1;
}

}  // namespace

bool cable_parse(const char* text, cable& c)
{
    const std::string t = text;
    const size_t first = t.find(':'), second = first == std::string::npos ? first : t.find(':', first + 1);
    c = cable{};
    c.client = t.substr(0, first);
    if (first != std::string::npos &&
        !cable_port_name(t.substr(first + 1, second == std::string::npos ? second : second - first - 1), "out_",
                         c.output, c.output2))
        return false;
    if (second != std::string::npos && !cable_port_name(t.substr(second + 1), "in_", c.input, c.input2))
        return false;
    return !c.client.empty();
}

}  // namespace loopsim
