// The loop cable loopsim plugs in by itself: whenever a JACK client of a given
// name registers its ports CLIENT:out_<N> and CLIENT:in_<M> (PortAudio's
// names), CLIENT:out_<N> -> loopsim:in and loopsim:out -> CLIENT:in_<M> are
// connected, for every new instance of that client. OUT and IN may also name
// the ports themselves (jack_iodelay's jack_delay:out:in).
#pragma once
#include <jack/jack.h>

#include <string>

namespace loopsim {

struct cable {
    std::string client;                     // empty: no cable
    std::string output = "out_0", input = "in_0";  // CLIENT's port names
};

// Reads CLIENT[:OUT[:IN]]; false when it cannot.
bool cable_parse(const char* text, cable& c);

// Sets the port registration callback that wakes cable_serve; before
// jack_activate. False when JACK refuses it.
bool cable_watch(jack_client_t* client, const cable& c);

// Runs until SIGINT or SIGTERM arrives (blocked by the caller before the client
// opened, so that JACK's threads never take them), plugging the cable in
// whenever the watched client registers a port, and once a second besides.
void cable_serve(jack_client_t* client, jack_port_t* in, jack_port_t* out, const cable& c, const sigset_t& stop);

}  // namespace loopsim
