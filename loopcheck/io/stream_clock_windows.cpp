// Windows has no JACK server: no frame counter to watch, no monitor ports.
#include "loopcheck/io/stream_clock.hpp"

bool stream_clock_open(stream_state&) { return false; }
void stream_clock_close(stream_state&) {}
bool stream_clock_inputs_are_monitor(const stream_state&, const char*) { return false; }
double stream_clock_port_latency(const stream_state&, const char*, bool) { return -1.0; }
