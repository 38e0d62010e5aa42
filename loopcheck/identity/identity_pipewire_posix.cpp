// pw-dump's answer, for the card behind a PipeWire node: the running
// system's, or a fixture tree's pw-dump.json.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "loopcheck/identity/identity.hpp"

std::string identity_pipewire_dump(const std::string& root)
{
    if (root != "/") {
        std::ifstream in(root + "/pw-dump.json");
        std::ostringstream text;
        text << in.rdbuf();
        return in ? text.str() : std::string();
    }
    // Bounded: without a PipeWire server pw-dump ends at once; a stuck one ends at the timeout.
    std::FILE* pipe = popen("timeout 5 pw-dump 2>/dev/null", "r");
    if (!pipe)
        return "";
    std::string text;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        text.append(buffer, n);
    pclose(pipe);
    return text;
}
