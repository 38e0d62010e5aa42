// ASIO's drivers are Windows's: nothing to read elsewhere.
#include "loopcheck/identity/identity.hpp"

std::optional<identity_driver> identity_read_asio_driver(const std::string&) { return std::nullopt; }
