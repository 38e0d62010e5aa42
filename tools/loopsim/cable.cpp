#include "tools/loopsim/cable.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace loopsim {

namespace {

int wake_fd = -1;
std::string watched_prefix;  // "CLIENT:"
std::atomic<bool> plugging{false};

// JACK's own messages, on standard error as its default prints them, but
// for those of a connection refused while plugging in: the client plugged
// into may not be active yet, or be closing ("Unknown destination port"
// once its ports are gone), and the next registration or look tries again.
void jack_words(const char* text)
{
    if (!plugging.load())
        std::fprintf(stderr, "%s\n", text);
}

// JACK's notification thread: no jack_connect here (JACK forbids it in its
// callbacks); one write to an eventfd wakes the main thread, which does it.
void port_registered(jack_port_id_t id, int registered, void* arg)
{
    // Not on unregistration: a client that is closing disconnects its ports
    // first, and they are not to be plugged in again.
    if (!registered)
        return;
    auto* client = static_cast<jack_client_t*>(arg);
    const jack_port_t* port = jack_port_by_id(client, id);
    const char* name = port ? jack_port_name(port) : nullptr;
    if (name && std::strncmp(name, watched_prefix.c_str(), watched_prefix.size()) == 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(wake_fd, &one, sizeof one);
    }
}

// Connects what is not yet connected of one pair; true when both connections stand.
bool plug_pair(jack_client_t* client, jack_port_t* in, jack_port_t* out, const cable& c, const std::string& output,
               const std::string& input, bool* newly = nullptr)
{
    const std::string their_out = c.client + ":" + output, their_in = c.client + ":" + input;
    jack_port_t* source = jack_port_by_name(client, their_out.c_str());
    jack_port_t* sink = jack_port_by_name(client, their_in.c_str());
    if (!source || !sink)
        return true;  // nothing to plug into yet: the next registration wakes us
    bool ok = true;
    if (!jack_port_connected_to(in, their_out.c_str())) {
        ok = jack_connect(client, their_out.c_str(), jack_port_name(in)) == 0 && ok;
        if (ok && newly)
            *newly = true;
    }
    if (!jack_port_connected_to(out, their_in.c_str()))
        ok = jack_connect(client, jack_port_name(out), their_in.c_str()) == 0 && ok;
    return ok;
}

bool plug(jack_client_t* client, const cable_ports& ports, const cable& c, void (*plugged)())
{
    plugging.store(true);
    bool newly = false;
    bool ok = plug_pair(client, ports.in[0], ports.out[0], c, c.output, c.input, &newly);
    if (newly && plugged)
        plugged();
    if (ports.pairs == 2 && !c.output2.empty() && !c.input2.empty())
        ok = plug_pair(client, ports.in[1], ports.out[1], c, c.output2, c.input2) && ok;
    plugging.store(false);
    return ok;
}

}  // namespace

bool cable_watch(jack_client_t* client, const cable& c)
{
    wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    watched_prefix = c.client + ":";
    jack_set_error_function(jack_words);
    return wake_fd >= 0 &&
           (c.client.empty() || jack_set_port_registration_callback(client, port_registered, client) == 0);
}

void cable_serve(jack_client_t* client, const cable_ports& ports, const cable& c, const sigset_t& stop, void (*tick)(),
                 int tick_ms, void (*plugged)())
{
    const int signal_fd = signalfd(-1, &stop, SFD_CLOEXEC);
    if (signal_fd < 0) {
        std::perror("loopsim: signalfd");
        return;
    }
    pollfd fds[2] = {{signal_fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    bool done = c.client.empty() || plug(client, ports, c, plugged);
    for (;;) {
        // A refused connection (the client not yet active) is tried again
        // soon; otherwise the registrations wake us, and a rescan once a second
        // covers one that came before the callback was set.
        const int ready = poll(fds, 2, std::min(done ? 1000 : 10, tick ? tick_ms : 1000));
        if (tick)
            tick();
        if (ready > 0 && (fds[0].revents & POLLIN))
            break;
        if (ready > 0 && (fds[1].revents & POLLIN)) {
            uint64_t count;
            [[maybe_unused]] const ssize_t got = read(wake_fd, &count, sizeof count);
        }
        if (!c.client.empty())
            done = plug(client, ports, c, plugged);
    }
    if (tick)
        tick();
    close(signal_fd);
}

}  // namespace loopsim
