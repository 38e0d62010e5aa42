// JACK's frame counter, read through a short-lived client of loopcheck's own:
// jack_last_frame_time is the server's count of frames at the start of the
// current cycle, the same for every client of the server, read without a lock.
#include <jack/jack.h>

#include "loopcheck/stream_clock.hpp"

namespace {

uint32_t clock_read(void* client) { return jack_last_frame_time(static_cast<jack_client_t*>(client)); }

}  // namespace

void stream_clock_open(stream_state& s)
{
    jack_client_t* client = jack_client_open("loopcheck-clock", JackNoStartServer, nullptr);
    if (!client)
        return;
    s.clock_context = client;
    s.clock_read = clock_read;
}

void stream_clock_close(stream_state& s)
{
    if (s.clock_context)
        jack_client_close(static_cast<jack_client_t*>(s.clock_context));
    s.clock_context = nullptr;
    s.clock_read = nullptr;
}
