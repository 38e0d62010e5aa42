// No PipeWire on Windows: no dump.
#include "loopcheck/identity/identity.hpp"

std::string identity_pipewire_dump(const std::string&) { return ""; }
