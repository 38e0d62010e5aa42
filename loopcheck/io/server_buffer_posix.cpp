// The JACK server's buffer size through libjack.
#include <jack/jack.h>

#include <chrono>
#include <thread>

#include "loopcheck/io/server_buffer.hpp"

struct server_buffer {
    jack_client_t* client = nullptr;
    int64_t original = 0;
    bool changed = false;
};

namespace {

// Asks, then waits for the server's engine to run at the size: it applies a
// new size between two cycles, and its clients read it from the engine's
// shared state. Bounded: a server that never gets there is reported as it is.
int64_t size_set(server_buffer& b, int64_t frames, std::string& problem)
{
    b.changed = true;
    if (jack_set_buffer_size(b.client, static_cast<jack_nframes_t>(frames)) != 0)
        problem = "the JACK server refused a buffer size of " + std::to_string(frames) + " frames";
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    int64_t now = jack_get_buffer_size(b.client);
    while (now != frames && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        now = jack_get_buffer_size(b.client);
    }
    return now;
}

}  // namespace

server_buffer* server_buffer_open()
{
    jack_status_t status{};
    jack_client_t* client = jack_client_open("loopcheck-size", JackNoStartServer, &status);
    if (!client)
        return nullptr;
    return new server_buffer{client, static_cast<int64_t>(jack_get_buffer_size(client)), false};
}

int64_t server_buffer_size(const server_buffer* b) { return b ? jack_get_buffer_size(b->client) : 0; }

int64_t server_buffer_original(const server_buffer* b) { return b ? b->original : 0; }

int64_t server_buffer_set(server_buffer* b, int64_t frames, std::string& problem)
{
    problem.clear();
    return b ? size_set(*b, frames, problem) : 0;
}

std::string server_buffer_close(server_buffer* b)
{
    if (!b)
        return "";
    std::string problem;
    if (b->changed && size_set(*b, b->original, problem) != b->original && problem.empty())
        problem = "the JACK server did not return to " + std::to_string(b->original) + " frames";
    jack_client_close(b->client);
    delete b;
    return problem;
}
