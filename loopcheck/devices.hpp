// Finding the devices of the loop: by index as Dravik lists it, or by a unique
// part of the name; and whether an input is really an output's monitor.
#pragma once
#include <portaudio.h>

#include <string>
#include <string_view>

struct device_pick {
    PaDeviceIndex index = paNoDevice;
    std::string problem;  // why none was picked
};

// The device that text names within the host API: a PortAudio device index
// (digits only), else the device whose name equals text, else the one device
// whose name contains it (ignoring case). Empty text: the host API's first
// device, as the windowed programs take.
device_pick device_pick_named(std::string_view text, PaHostApiIndex api);

// The device's name, or "" when there is none.
std::string device_name_of(PaDeviceIndex device);

// True when the JACK device's inputs are the monitor ports of a sink
// (PipeWire's JACK face lists a sink's "monitor_FL" ... as the inputs of the
// sink's own device): what comes back there is what was played to the sink,
// one quantum later, not what the interface's cable brings. False elsewhere.
bool device_inputs_are_monitor(PaDeviceIndex device);
