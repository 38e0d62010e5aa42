// loopcheck's stream straight on a JACK server, for the loop on the server's
// own first device, without PortAudio: PortAudio's start opens every ALSA
// device and plugin of the machine first (a fifth of a second), which a
// measurement that takes half a second cannot afford. The stream is the one
// PortAudio's JACK host API would open: a client "loopcheck" with ports
// out_0.. and in_0.., connected to the device's ports in order, the same
// callback and state, an xrun flagged on the next call as an input overflow
// and an output underflow, and the latencies PortAudio reports.
#pragma once
#include <string>
#include <vector>

#include "loopcheck/io/stream_device.hpp"
#include "loopcheck/io/stream_state.hpp"

struct jack_stream;

inline constexpr const char* stream_jack_host_api = "JACK Audio Connection Kit";

// The device PortAudio's JACK host API lists first: the client of the first
// audio port on the server.
struct stream_jack_device {
    std::string name;
    std::vector<std::string> aliases;  // its first capture port's aliases ("alsa_pcm:hw:1:out1"): the card behind it
    int inputs = 0, outputs = 0;       // its output ports (our inputs) and input ports (our outputs)
    double rate = 0.0;
    std::string library;  // the file libjack was loaded from: PipeWire's own under pw-jack
};

// Opens the client "loopcheck" on a running JACK server, unless the request
// names a device (then PortAudio chooses it), and makes it s's clock (its
// frame counter, as stream_clock_open does). nullptr when no server answers.
jack_stream* stream_jack_connect(stream_state& s, const stream_request& request);

// Whether the loop can open on it: the first device has inputs and outputs,
// and no other rate is asked (PortAudio has the words for those). Sets device.
bool stream_jack_usable(jack_stream* j, const stream_request& request, stream_jack_device& device);

// Registers the ports for the request's loops (as stream_open does, two
// channels at least where the device has them) and hands j to opened, which
// owns it from here; sets s's channels and opened's rate. "" or the reason.
std::string stream_jack_open(jack_stream* j, stream_state& s, const stream_request& request,
                             const stream_jack_device& device, stream_opened& opened);
// Activates the client, connects the ports and reads the latencies. "" or the reason.
std::string stream_jack_start(stream_opened& opened);
// libjack's version (the client library's, which JACK's API gives; the server's it does not), "" without JACK.
std::string stream_jack_version();

// Closes a client not handed to a stream, or opened's; s's clock goes with it.
void stream_jack_release(jack_stream* j);
void stream_jack_close(stream_opened& opened);
