// Windows has no JACK server: no frame counter to watch.
#include "loopcheck/stream_clock.hpp"

void stream_clock_open(stream_state&) {}
void stream_clock_close(stream_state&) {}
