// The stream on JACK itself: the client, its ports and the process callback
// that hands each cycle to stream_callback, interleaved as PortAudio would.
#include <dlfcn.h>
#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "loopcheck/io/stream_jack.hpp"

// What the process callback reads: all of it set before the client is
// activated, but for the flags the notification thread raises.
struct jack_stream {
    jack_client_t* client = nullptr;
    stream_state* state = nullptr;
    std::vector<jack_port_t*> out_ports, in_ports;
    std::vector<float*> out_buffers;  // this cycle's, one per port
    std::vector<const float*> in_buffers;
    std::vector<float> out_frames, in_frames;                // a chunk interleaved
    std::vector<std::string> device_inputs, device_outputs;  // the device's ports we play into and capture from
    std::atomic<bool> xrun{false};
    bool active = false;
};
static_assert(std::atomic<bool>::is_always_lock_free);

namespace {

constexpr jack_nframes_t chunk_frames = 4096;  // a longer cycle goes to the callback in chunks

// Real-time: copies in, calls, copies out. No allocation, lock, print or wait.
int jack_process(jack_nframes_t frames, void* arg)
{
    jack_stream& j = *static_cast<jack_stream*>(arg);
    const size_t outs = j.out_ports.size(), ins = j.in_ports.size();
    for (size_t k = 0; k < outs; k++)
        j.out_buffers[k] = static_cast<float*>(jack_port_get_buffer(j.out_ports[k], frames));
    for (size_t k = 0; k < ins; k++)
        j.in_buffers[k] = static_cast<const float*>(jack_port_get_buffer(j.in_ports[k], frames));
    // An xrun since the last cycle, as PortAudio's JACK host API reports it.
    PaStreamCallbackFlags flags =
        j.xrun.exchange(false, std::memory_order_relaxed) ? paInputOverflow | paOutputUnderflow : 0;
    for (jack_nframes_t done = 0; done < frames;) {
        const jack_nframes_t n = std::min(chunk_frames, frames - done);
        for (jack_nframes_t i = 0; i < n; i++)
            for (size_t k = 0; k < ins; k++)
                j.in_frames[i * ins + k] = j.in_buffers[k][done + i];
        stream_callback(j.in_frames.data(), j.out_frames.data(), n, nullptr, flags, j.state);
        for (jack_nframes_t i = 0; i < n; i++)
            for (size_t k = 0; k < outs; k++)
                j.out_buffers[k][done + i] = j.out_frames[i * outs + k];
        flags = 0;
        done += n;
    }
    return 0;
}

int jack_xrun(void* arg)
{
    static_cast<jack_stream*>(arg)->xrun.store(true, std::memory_order_relaxed);
    return 0;
}

// The audio ports of client whose flags include flags, in the server's order.
std::vector<std::string> client_ports(jack_client_t* jack, const std::string& client, unsigned long flags)
{
    std::vector<std::string> found;
    const std::string prefix = client + ":";
    const char** ports = jack_get_ports(jack, nullptr, JACK_DEFAULT_AUDIO_TYPE, flags);
    for (const char** p = ports; p && *p; p++)
        if (std::strncmp(*p, prefix.c_str(), prefix.size()) == 0)
            found.emplace_back(*p);
    jack_free(ports);
    return found;
}

// The latency the server gives the device's port (its range's max); -1 without the port.
double port_latency(jack_client_t* jack, const std::string& name, jack_latency_callback_mode_t mode)
{
    jack_port_t* port = jack_port_by_name(jack, name.c_str());
    if (!port)
        return -1.0;
    jack_latency_range_t range{};
    jack_port_get_latency_range(port, mode, &range);
    return static_cast<double>(range.max);
}

uint32_t jack_clock(void* client) { return jack_last_frame_time(static_cast<jack_client_t*>(client)); }

// Quiet: a missing server is an answer here, not an error to print.
void jack_quiet(const char*) {}

}  // namespace

jack_stream* stream_jack_connect(stream_state& s, const stream_request& o)
{
    if (!o.device.empty() || !o.out_device.empty() || !o.in_device.empty())
        return nullptr;
    jack_set_error_function(jack_quiet);
    jack_set_info_function(jack_quiet);
    auto j = std::make_unique<jack_stream>();
    j->client = jack_client_open("loopcheck", JackNoStartServer, nullptr);
    if (!j->client)
        return nullptr;
    j->state = &s;
    s.clock_context = j->client;
    s.clock_read = jack_clock;
    return j.release();
}

bool stream_jack_usable(jack_stream* j, const stream_request& o, stream_jack_device& device)
{
    if (!j)
        return false;
    const char** ports = jack_get_ports(j->client, nullptr, JACK_DEFAULT_AUDIO_TYPE, 0);
    const std::string first = ports && ports[0] ? ports[0] : "";
    jack_free(ports);
    const size_t colon = first.find(':');
    if (colon == std::string::npos)
        return false;
    device.name = first.substr(0, colon);
    device.inputs = static_cast<int>(client_ports(j->client, device.name, JackPortIsOutput).size());
    device.outputs = static_cast<int>(client_ports(j->client, device.name, JackPortIsInput).size());
    device.rate = jack_get_sample_rate(j->client);
    // Which libjack answers tells jackd from PipeWire's JACK face (pw-jack puts PipeWire's first).
    Dl_info loaded{};
    if (dladdr(reinterpret_cast<void*>(&jack_client_open), &loaded) != 0 && loaded.dli_fname)
        device.library = loaded.dli_fname;
    // The aliases of its first capture port: on an ALSA backend "alsa_pcm:hw:N:..." names the card.
    const std::vector<std::string> captures = client_ports(j->client, device.name, JackPortIsOutput);
    jack_port_t* port = captures.empty() ? nullptr : jack_port_by_name(j->client, captures[0].c_str());
    if (port) {
        const int size = jack_port_name_size();
        std::vector<std::vector<char>> storage(2, std::vector<char>(static_cast<size_t>(size)));
        char* aliases[2] = {storage[0].data(), storage[1].data()};
        const int count = jack_port_get_aliases(port, aliases);
        for (int k = 0; k < count && k < 2; k++)
            device.aliases.emplace_back(aliases[k]);
    }
    return device.inputs > 0 && device.outputs > 0 && (o.rate <= 0.0 || std::fabs(o.rate - device.rate) < 0.5);
}

std::string stream_jack_open(jack_stream* j, stream_state& s, const stream_request& o, const stream_jack_device& device,
                             stream_opened& opened)
{
    opened.jack = j;
    const std::string named = "device \"" + device.name + "\"";
    const std::string problem = stream_channels_set(s, o, device.outputs, device.inputs, named, named);
    if (!problem.empty())
        return problem;
    for (int k = 0; k < s.out_channels + s.in_channels; k++) {
        const bool out = k < s.out_channels;
        const std::string name = (out ? "out_" : "in_") + std::to_string(out ? k : k - s.out_channels);
        jack_port_t* port = jack_port_register(j->client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                               out ? JackPortIsOutput : JackPortIsInput, 0);
        if (!port)
            return "JACK refused the port " + std::string(jack_get_client_name(j->client)) + ":" + name;
        (out ? j->out_ports : j->in_ports).push_back(port);
    }
    j->out_buffers.resize(j->out_ports.size());
    j->in_buffers.resize(j->in_ports.size());
    j->out_frames.resize(chunk_frames * j->out_ports.size());
    j->in_frames.resize(chunk_frames * j->in_ports.size());
    j->device_inputs = client_ports(j->client, device.name, JackPortIsInput);
    j->device_outputs = client_ports(j->client, device.name, JackPortIsOutput);
    jack_set_process_callback(j->client, jack_process, j);
    jack_set_xrun_callback(j->client, jack_xrun, j);
    opened.rate = jack_get_sample_rate(j->client);
    return "";
}

std::string stream_jack_start(stream_opened& opened)
{
    jack_stream& j = *opened.jack;
    if (jack_activate(j.client) != 0)
        return "JACK cannot start loopcheck's client";
    j.active = true;
    const char* own = jack_get_client_name(j.client);
    for (size_t k = 0; k < j.out_ports.size() && k < j.device_inputs.size(); k++)
        if (jack_connect(j.client, jack_port_name(j.out_ports[k]), j.device_inputs[k].c_str()) != 0)
            return std::string("JACK cannot connect ") + own + ":out_" + std::to_string(k) + " to " +
                   j.device_inputs[k];
    for (size_t k = 0; k < j.in_ports.size() && k < j.device_outputs.size(); k++)
        if (jack_connect(j.client, j.device_outputs[k].c_str(), jack_port_name(j.in_ports[k])) != 0)
            return "JACK cannot connect " + j.device_outputs[k] + " to " + own + ":in_" + std::to_string(k);
    // The server's own figures, and less one buffer each, as PortAudio counts them.
    const double buffer = static_cast<double>(jack_get_buffer_size(j.client));
    if (!j.device_outputs.empty())
        opened.server_input_frames = port_latency(j.client, j.device_outputs[0], JackCaptureLatency);
    if (!j.device_inputs.empty())
        opened.server_output_frames = port_latency(j.client, j.device_inputs[0], JackPlaybackLatency);
    if (opened.server_input_frames >= 0.0)
        opened.input_latency_frames = opened.server_input_frames - buffer;
    if (opened.server_output_frames >= 0.0)
        opened.output_latency_frames = opened.server_output_frames - buffer;
    return "";
}

void stream_jack_release(jack_stream* j)
{
    std::unique_ptr<jack_stream> owned(j);
    if (!owned)
        return;
    // Deactivated first: the callback is done with the state before it goes.
    if (owned->active)
        jack_deactivate(owned->client);
    if (owned->state && owned->state->clock_context == owned->client)
        owned->state->clock_context = nullptr, owned->state->clock_read = nullptr;
    jack_client_close(owned->client);
}

void stream_jack_close(stream_opened& opened)
{
    stream_jack_release(opened.jack);
    opened.jack = nullptr;
}

std::string stream_jack_version() { return jack_get_version_string(); }
