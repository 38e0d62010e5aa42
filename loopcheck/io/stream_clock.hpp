// The server's frame counter for the callback's missed-cycle check, on JACK.
#pragma once
#include "loopcheck/io/stream_state.hpp"

// Opens a client of loopcheck's own on a running JACK server and hands its
// frame counter to the callback (s.clock_read). True when a JACK server
// answered. Elsewhere, and where the client cannot open, the check stays off.
bool stream_clock_open(stream_state& s);

// Whether the JACK device's inputs are the monitor ports of a sink, asked
// through the clock's client (one of its own when there is none).
bool stream_clock_inputs_are_monitor(const stream_state& s, const char* device_name);

// The latency JACK's server gives a JACK device's first port, asked through
// the clock's client: capture (the device's first output port, what it
// sends us) or playback (its first input port); -1 without the port or the
// client. Through PortAudio's JACK host API these are the server's own
// figures (what -I/-O and PipeWire's latency.internal.* add to), which
// PortAudio's stream latencies are not.
double stream_clock_port_latency(const stream_state& s, const char* device_name, bool capture);

// Closes it, once the stream is closed.
void stream_clock_close(stream_state& s);
