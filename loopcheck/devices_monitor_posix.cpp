// Whether a JACK device's inputs are monitor ports, asked of the JACK server
// by a short-lived client of loopcheck's own.
#include <jack/jack.h>

#include <cstring>
#include <string>

#include "loopcheck/devices.hpp"

bool devices_inputs_are_monitor(PaDeviceIndex device)
{
    const PaDeviceInfo* info = device >= 0 ? Pa_GetDeviceInfo(device) : nullptr;
    const PaHostApiInfo* api = info ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
    if (!api || api->type != paJACK || !info->name)
        return false;
    jack_client_t* client = jack_client_open("loopcheck-ports", JackNoStartServer, nullptr);
    if (!client)
        return false;
    // The device's inputs are its client's output ports (what it sends to us).
    const std::string prefix = std::string(info->name) + ":";
    const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
    int inputs = 0, monitors = 0;
    for (const char** p = ports; p && *p; p++) {
        if (std::strncmp(*p, prefix.c_str(), prefix.size()) != 0)
            continue;
        inputs++;
        if (std::strncmp(*p + prefix.size(), "monitor_", 8) == 0)
            monitors++;
    }
    jack_free(ports);
    jack_client_close(client);
    return inputs > 0 && monitors == inputs;
}
