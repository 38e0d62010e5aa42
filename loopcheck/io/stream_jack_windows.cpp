// Windows has no JACK server: the stream always opens through PortAudio.
#include "loopcheck/io/stream_jack.hpp"

jack_stream* stream_jack_connect(stream_state&, const stream_request&) { return nullptr; }
bool stream_jack_usable(jack_stream*, const stream_request&, stream_jack_device&) { return false; }
std::string stream_jack_open(jack_stream*, stream_state&, const stream_request&, const stream_jack_device&,
                             stream_opened&)
{
    return "no JACK here";
}
std::string stream_jack_start(stream_opened&) { return "no JACK here"; }
void stream_jack_release(jack_stream*) {}
std::string stream_jack_version() { return ""; }
void stream_jack_close(stream_opened&) {}
