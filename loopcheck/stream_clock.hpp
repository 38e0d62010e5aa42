// The server's frame counter for the callback's missed-cycle check, on JACK.
#pragma once
#include "loopcheck/stream.hpp"

// Opens a client of loopcheck's own on the JACK server the stream runs on and
// hands its frame counter to the callback (s.clock_read). Only JACK has one;
// elsewhere, and where the client cannot open, the check stays off.
void stream_clock_open(stream_state& s);

// Closes it, once the stream is closed.
void stream_clock_close(stream_state& s);
