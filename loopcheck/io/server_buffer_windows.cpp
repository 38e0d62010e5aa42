// Windows has no JACK server: the sweep sets each stream's own buffer.
#include "loopcheck/io/server_buffer.hpp"

const server_buffer_backend& server_buffer_system()
{
    static const server_buffer_backend none{};
    return none;
}
