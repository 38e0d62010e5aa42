// The loop cable loopsim plugs in by itself: whenever a JACK client of a given
// name registers its ports CLIENT:out_<N> and CLIENT:in_<M> (PortAudio's
// names), CLIENT:out_<N> -> loopsim:in and loopsim:out -> CLIENT:in_<M> are
// connected, for every new instance of that client; with a second channel also
// CLIENT:out_<N+1> -> loopsim:in2 and loopsim:out2 -> CLIENT:in_<M+1>. OUT and
// IN may also name the ports themselves (jack_iodelay's jack_delay:out:in);
// then only the first pair is plugged.
#pragma once
#include <jack/jack.h>

#include <string>

#include "tools/loopsim/cable_name.hpp"

namespace loopsim {

// Sets the port registration callback that wakes cable_serve; before
// jack_activate. False when JACK refuses it.
bool cable_watch(jack_client_t* client, const cable& c);

// loopsim's own ports: pairs of them (1 or 2), in[i] fed by CLIENT's i-th output.
struct cable_ports {
    jack_port_t* in[2] = {};
    jack_port_t* out[2] = {};
    int pairs = 1;
};

// Runs until SIGINT or SIGTERM arrives (blocked by the caller before the client
// opened, so that JACK's threads never take them), plugging the cable in
// whenever the watched client registers a port, and once a second besides;
// calls tick (if any) at least every tick_ms milliseconds, and once at the end.
// plugged (if any) is called each time the cable is plugged into a new
// instance of the client (its first output newly connected to in).
void cable_serve(jack_client_t* client, const cable_ports& ports, const cable& c, const sigset_t& stop, void (*tick)(),
                 int tick_ms, void (*plugged)() = nullptr);

}  // namespace loopsim
