// Inside io/: the device's side of an open stream, PortAudio's stream or
// loopcheck's own JACK client (stream_jack.hpp), as stream_open.cpp and the
// JACK stream share it.
#pragma once
#include <portaudio.h>

struct jack_stream;

// The stream on the device, through PortAudio or straight on JACK.
struct stream_opened {
    PaStream* stream = nullptr;
    jack_stream* jack = nullptr;
    double rate = 0.0;
    double input_latency_frames = 0.0, output_latency_frames = 0.0;  // as the host reports them
    double server_input_frames = -1.0, server_output_frames = -1.0;  // straight on JACK: its ports' own; else -1
};
