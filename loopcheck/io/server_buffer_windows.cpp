// Windows has no JACK server: the sweep sets each stream's own buffer.
#include "loopcheck/io/server_buffer.hpp"

server_buffer* server_buffer_open() { return nullptr; }
int64_t server_buffer_size(const server_buffer*) { return 0; }
int64_t server_buffer_original(const server_buffer*) { return 0; }
int64_t server_buffer_set(server_buffer*, int64_t, std::string& problem)
{
    problem = "no JACK server here";
    return 0;
}
std::string server_buffer_close(server_buffer*) { return ""; }
