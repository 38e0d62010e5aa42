// The buffer sweep's hold on the server's size: set, waited for, put back.
#include "loopcheck/io/server_buffer.hpp"

struct server_buffer {
    const server_buffer_backend* backend = nullptr;
    void* client = nullptr;
    int64_t original = 0;
    bool changed = false;
    // PipeWire: the settings' forced quantum before the sweep ("" when none
    // was read), and whether the sweep forced one.
    std::string forced_before;
    bool forced = false;
};

namespace {

// Waits, at most 3 s, for the server's engine to run at frames: it applies a
// new size between two cycles, and its clients read it from the engine's
// shared state. The size it runs at then.
int64_t size_wait(server_buffer& b, int64_t frames)
{
    const server_buffer_backend& s = *b.backend;
    const int64_t end = s.now_ms() + 3000;
    int64_t now = s.size(b.client);
    while (now != frames && s.now_ms() < end) {
        s.pause_ms(10);
        now = s.size(b.client);
    }
    return now;
}

// Asks through JACK, then, where the size did not take (PipeWire with a
// forced quantum ignores jack_set_buffer_size), through PipeWire's settings.
int64_t size_set(server_buffer& b, int64_t frames, std::string& problem)
{
    const server_buffer_backend& s = *b.backend;
    b.changed = true;
    const int refused = s.set(b.client, frames);
    int64_t now = size_wait(b, frames);
    if (now != frames) {
        if (!b.forced)
            b.forced_before = s.forced_quantum();
        if (!b.forced_before.empty() && s.force_quantum(std::to_string(frames))) {
            b.forced = true;
            now = size_wait(b, frames);
        }
    }
    if (refused != 0 && now != frames)
        problem = "the JACK server refused a buffer size of " + std::to_string(frames) + " frames";
    return now;
}

}  // namespace

server_buffer* server_buffer_open(const server_buffer_backend& backend)
{
    void* client = backend.open ? backend.open() : nullptr;
    if (!client)
        return nullptr;
    auto* b = new server_buffer;
    b->backend = &backend;
    b->client = client;
    b->original = backend.size(client);
    return b;
}

int64_t server_buffer_size(const server_buffer* b) { return b ? b->backend->size(b->client) : 0; }

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
    const server_buffer_backend& s = *b->backend;
    std::string problem;
    if (b->forced) {
        // PipeWire: the settings as they were (0: no quantum forced), then the size.
        if (!s.force_quantum(b->forced_before))
            problem = "PipeWire's clock.force-quantum could not be set back to " + b->forced_before;
    }
    if (b->changed) {
        s.set(b->client, b->original);
        if (size_wait(*b, b->original) != b->original && problem.empty())
            problem = "the JACK server did not return to " + std::to_string(b->original) + " frames";
    }
    s.close(b->client);
    delete b;
    return problem;
}
