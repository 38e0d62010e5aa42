// JACK's frame counter, read through a client of loopcheck's own:
// jack_last_frame_time is the server's count of frames at the start of the
// current cycle, the same for every client of the server, read without a lock.
#include <jack/jack.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "loopcheck/io/stream_clock.hpp"

namespace {

uint32_t clock_read(void* client) { return jack_last_frame_time(static_cast<jack_client_t*>(client)); }

// Quiet: a missing server is an answer here, not an error to print.
void clock_jack_quiet(const char*) {}

}  // namespace

bool stream_clock_open(stream_state& s)
{
    jack_set_error_function(clock_jack_quiet);
    jack_set_info_function(clock_jack_quiet);
    jack_client_t* client = jack_client_open("loopcheck-clock", JackNoStartServer, nullptr);
    if (!client)
        return false;
    s.clock_context = client;
    s.clock_read = clock_read;
    return true;
}

void stream_clock_close(stream_state& s)
{
    if (s.clock_context)
        jack_client_close(static_cast<jack_client_t*>(s.clock_context));
    s.clock_context = nullptr;
    s.clock_read = nullptr;
}

bool stream_clock_inputs_are_monitor(const stream_state& s, const char* device_name)
{
    auto* client = static_cast<jack_client_t*>(s.clock_context);
    if (!client || !device_name)
        return false;
    // The device's inputs are its client's output ports (what it sends to us).
    const std::string prefix = std::string(device_name) + ":";
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
    return inputs > 0 && monitors == inputs;
}

double stream_clock_port_latency(const stream_state& s, const char* device_name, bool capture)
{
    auto* client = static_cast<jack_client_t*>(s.clock_context);
    if (!client || !device_name)
        return -1.0;
    const std::string prefix = std::string(device_name) + ":";
    const char** ports =
        jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, capture ? JackPortIsOutput : JackPortIsInput);
    std::string first;
    for (const char** p = ports; p && *p && first.empty(); p++)
        if (std::strncmp(*p, prefix.c_str(), prefix.size()) == 0)
            first = *p;
    jack_free(ports);
    jack_port_t* port = first.empty() ? nullptr : jack_port_by_name(client, first.c_str());
    if (!port)
        return -1.0;
    jack_latency_range_t range{};
    jack_port_get_latency_range(port, capture ? JackCaptureLatency : JackPlaybackLatency, &range);
    return static_cast<double>(range.max);
}
