// Finding the devices of the loop: by index as Dravik lists it, or by a unique
// part of the name; and pairing an output with an input.
#pragma once
#include <portaudio.h>

#include <string>
#include <string_view>

#include "loopcheck/io/stream.hpp"

struct device_pick {
    PaDeviceIndex index = paNoDevice;
    std::string problem;  // why none was picked
};

// The device that text names within the host API: a PortAudio device index
// (digits only), else the device whose name equals text, else the one device
// whose name contains it (ignoring case).
device_pick devices_pick_named(std::string_view text, PaHostApiIndex api);

// The ALSA card of a device name such as "USB Audio CODEC: USB Audio (hw:1,0)",
// or -1 when the name shows none.
int devices_alsa_card(std::string_view name);

// The device's name, or "" when there is none.
std::string devices_name_of(PaDeviceIndex device);

struct devices_pair {
    PaDeviceIndex output = paNoDevice, input = paNoDevice;
    std::string output_name, input_name;
};

// The loop's two devices within the host API: -d names one (by index or name)
// and it is paired as the windowed programs pair it (on a host API of one-way
// devices, WASAPI or WMME, with the default of the other way); --out-device
// and --in-device set one side each. Two devices on two clocks are refused.
// "" or the reason there are none.
std::string devices_choose(const stream_request& request, PaHostApiIndex api, devices_pair& pair);
