// pw-dump's answer, for the card behind a PipeWire node: the running
// system's, or a fixture tree's pw-dump.json.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "loopcheck/identity/identity.hpp"

std::string identity_pipewire_dump(const std::string& root)
{
    const auto env = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value ? value : "");
    };
    const identity_pipewire_source source =
        identity_pipewire_source_of(root, env("PIPEWIRE_RUNTIME_DIR"), env("XDG_RUNTIME_DIR"), env("PIPEWIRE_REMOTE"));
    if (source == identity_pipewire_source::none)
        return "";
    if (source == identity_pipewire_source::fixture) {
        std::ifstream in(root + "/pw-dump.json");
        std::ostringstream text;
        text << in.rdbuf();
        return in ? text.str() : std::string();
    }
    // Bounded: a stuck server ends at the timeout.
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
