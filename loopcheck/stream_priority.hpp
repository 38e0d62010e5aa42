// The priority of the thread that runs the callback, where loopcheck chooses it.
#pragma once
#include <portaudio.h>

// Asks for real-time scheduling (SCHED_FIFO) of an opened ALSA stream's
// callback thread, before it starts, where this process is allowed it.
// JACK's threads are the server's to schedule, and Windows' host
// APIs raise their own.
void stream_priority_ask(PaStream* stream, PaHostApiTypeId api);
