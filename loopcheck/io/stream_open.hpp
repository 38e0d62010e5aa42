// Opening, starting and closing loopcheck's stream on the loop's devices.
#pragma once
#include <portaudio.h>

#include <string>

#include "loopcheck/io/devices.hpp"
#include "loopcheck/io/stream.hpp"

struct jack_stream;

// The stream, through PortAudio or (stream_jack.hpp) straight on JACK.
struct stream_opened {
    PaStream* stream = nullptr;
    jack_stream* jack = nullptr;
    double rate = 0.0;
    double input_latency_frames = 0.0, output_latency_frames = 0.0;  // as the host reports them
};

// Sets s's loops and channels from the request's channel lists: at least two
// channels a side where the device has them, and every loop's present; "" or
// the reason (out_device, in_device: how the devices are named in it).
std::string stream_channels_set(stream_state& s, const stream_request& request, int outputs, int inputs,
                                const std::string& out_device, const std::string& in_device);

// Checks the channels and the rate and opens the stream for the loop (the
// request's channels on the pair of devices), with s as the callback's user
// data; sets s's channels. "" or the reason it could not.
std::string stream_open(stream_state& s, const stream_request& request, const devices_pair& pair,
                        stream_opened& opened);

// Starts the stream and checks the rate it runs at. "" or the reason.
std::string stream_start(stream_opened& opened);

// Stops and closes the stream, if open.
void stream_close(stream_opened& opened);

// What to try when the stream stops delivering frames, as the windowed programs advise.
std::string stream_stall_advice(PaDeviceIndex device);
