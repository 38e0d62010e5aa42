// The stream's life on the device: PortAudio or JACK chosen, the devices
// found, the stream opened, started, opened again at another buffer, and
// closed with whatever was started for it, on one path.
#include <portaudio.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "frame/device.hpp"
#include "frame/host.hpp"
#include "loopcheck/io/devices.hpp"
#include "loopcheck/io/stream_clock.hpp"
#include "loopcheck/io/stream_device.hpp"
#include "loopcheck/io/stream_jack.hpp"
#include "loopcheck/io/stream_load.hpp"
#include "loopcheck/io/stream_state.hpp"

// Whatever was started to open the stream, and what the stream runs on: the
// closer stops and closes the stream, then the JACK clients, then PortAudio.
struct stream_device {
    jack_stream* jack = nullptr;  // loopcheck's own JACK client, until a stream owns it
    bool portaudio = false;       // Pa_Initialize called: Pa_Terminate owed, whatever it returned
    bool on_jack = false;         // straight on JACK, on device jack_device
    stream_jack_device jack_device;
    devices_pair pair;  // through PortAudio: the devices chosen
    stream_opened opened;
};

namespace {

PaStreamParameters side(PaDeviceIndex device, int channels, double latency)
{
    PaStreamParameters p{};
    p.device = device;
    p.channelCount = channels;
    p.sampleFormat = paFloat32;
    p.suggestedLatency = latency;
    p.hostApiSpecificStreamInfo = host_stream_info(device);  // WASAPI's mode on Windows
    return p;
}

std::string pa_device_text(PaDeviceIndex device, const std::string& name)
{
    return "device " + std::to_string(device) + " \"" + name + "\"";
}

// The host API's own words on its last error, if it left any.
std::string host_words()
{
    const PaHostErrorInfo* info = Pa_GetLastHostErrorInfo();
    return info && info->errorText && info->errorText[0] ? std::string(": ") + info->errorText : "";
}

// True when a device is one of PortAudio's JACK host API.
bool device_on_jack(PaDeviceIndex device)
{
    const PaDeviceInfo* info = device >= 0 ? Pa_GetDeviceInfo(device) : nullptr;
    const PaHostApiInfo* api = info ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
    return api && api->type == paJACK;
}

// A host API's name as PortAudio gives it ("" for none).
std::string host_api_name(PaHostApiIndex api)
{
    const PaHostApiInfo* host = api >= 0 ? Pa_GetHostApiInfo(api) : nullptr;
    return host && host->name ? host->name : "";
}

// The name of the host API a device belongs to.
std::string device_api_name(PaDeviceIndex device)
{
    const PaDeviceInfo* info = device >= 0 ? Pa_GetDeviceInfo(device) : nullptr;
    return info ? host_api_name(info->hostApi) : "";
}

// What to try when the stream stops delivering frames, as the windowed programs advise.
std::string stall_advice(PaDeviceIndex device)
{
    return device_on_jack(device) ? " (JACK server stopped? restart it)"
                                  : " (try another -b, or a smaller PipeWire quantum)";
}

// Checks the channels and the rate and opens the PortAudio stream for the
// loop (the request's channels on the pair of devices), with the state as the
// callback's user data. "" or the reason it could not.
std::string portaudio_open(stream& s, const devices_pair& pair, stream_opened& opened)
{
    const stream_request& o = s.request;
    const PaDeviceInfo* oi = Pa_GetDeviceInfo(pair.output);
    const PaDeviceInfo* ii = Pa_GetDeviceInfo(pair.input);
    const PaHostApiInfo* api = Pa_GetHostApiInfo(oi->hostApi);
    const std::string channels =
        stream_channels_set(s.state, o, oi->maxOutputChannels, ii->maxInputChannels,
                            pa_device_text(pair.output, pair.output_name), pa_device_text(pair.input, pair.input_name));
    if (!channels.empty())
        return channels;
    opened.rate = o.rate > 0.0 ? o.rate : oi->defaultSampleRate;
    // -b as the suggested latency, at the rate asked for; ALSA's choice is
    // made again below if the rate changes (a latency in seconds scales).
    const double asked = o.buffer > 0 ? static_cast<double>(o.buffer) / opened.rate : 0.0;
    const int outs = s.state.out_channels, ins = s.state.in_channels;
    PaStreamParameters output = side(pair.output, outs, asked > 0 ? asked : oi->defaultLowOutputLatency);
    PaStreamParameters input = side(pair.input, ins, asked > 0 ? asked : ii->defaultLowInputLatency);
    // PortAudio gives every ALSA plugin device (PipeWire's "default" among
    // them) 44100 Hz as its own rate, whatever the server behind it runs at:
    // there the suite's 48000 Hz, when the device takes it.
    if (o.rate <= 0.0 && api->type == paALSA && Pa_IsFormatSupported(&input, &output, 48000.0) == paFormatIsSupported) {
        if (asked > 0)
            input.suggestedLatency = output.suggestedLatency = static_cast<double>(o.buffer) / 48000.0;
        opened.rate = 48000.0;
    }
    const std::string where = " (output " + pa_device_text(pair.output, pair.output_name) + ", input " +
                              pa_device_text(pair.input, pair.input_name) + ")";
    PaError error = Pa_IsFormatSupported(&input, &output, opened.rate);
    if (error != paFormatIsSupported)
        return "rate " + std::to_string(std::lrint(opened.rate)) + " Hz not granted: " + Pa_GetErrorText(error) + where;
    error = Pa_OpenStream(&opened.stream, &input, &output, opened.rate, paFramesPerBufferUnspecified, paNoFlag,
                          stream_callback, &s.state);
    if (error != paNoError) {
        opened.stream = nullptr;
        return std::string("PortAudio cannot open the stream: ") + Pa_GetErrorText(error) + where;
    }
    return "";
}

// The devices through PortAudio: its host API, the pair chosen, their names.
std::string portaudio_choose(stream& s, stream_device& d)
{
    stream_jack_release(std::exchange(d.jack, nullptr));
    // JACK's frame counter shows a cycle the callback missed exactly.
    stream_clock_open(s.state);
    d.portaudio = true;
    if (audio_initialize("loopcheck") != paNoError)
        return "PortAudio could not start";
    const PaHostApiIndex api = host_api_choose();
    s.facts.host_api = host_api_name(api);
    const std::string problem = devices_choose(s.request, api, d.pair);
    if (!problem.empty())
        return problem;
    // A device named by its index may belong to another host API than the
    // one chosen (ALSA's "jack" plugin is index 0 on a JACK machine): the
    // label is that of the devices opened.
    s.facts.host_api = device_api_name(d.pair.output);
    const std::string input_api = device_api_name(d.pair.input);
    if (input_api != s.facts.host_api)
        s.facts.host_api += " to " + input_api;
    // The server's frame counter tells the cycles its own clients missed,
    // and nothing of a device of another host API: an ALSA card beside a
    // JACK server, or ALSA's "jack" plugin, which buffers on a clock of its
    // own. Read against those, its lead wanders and "misses" cycles that
    // never were, and spoils every run.
    if (!device_on_jack(d.pair.output) || !device_on_jack(d.pair.input))
        s.state.clock_read = nullptr;
    s.facts.out_device = d.pair.output, s.facts.in_device = d.pair.input;
    s.facts.out_name = d.pair.output_name, s.facts.in_name = d.pair.input_name;
    s.facts.stall_advice = stall_advice(d.pair.output);
    // The input is JACK's, and its inputs the monitor ports of a sink
    // (PipeWire's JACK face lists a sink's "monitor_FL" ... as the inputs of
    // the sink's own device): what comes back there is what was played to
    // the sink, one quantum later, not what the interface's cable brings.
    s.facts.input_is_monitor =
        device_on_jack(d.pair.input) && stream_clock_inputs_are_monitor(s.state, Pa_GetDeviceInfo(d.pair.input)->name);
    return "";
}

// The stream on the device chosen: "" or the reason.
std::string device_open(stream& s, stream_device& d)
{
    if (d.on_jack) {
        // A client of its own for each stream: the first from stream_open, the next ones anew.
        jack_stream* const j = d.jack ? std::exchange(d.jack, nullptr) : stream_jack_connect(s.state, s.request);
        if (!j)
            return "JACK server gone: loopcheck's client could not open again";
        return stream_jack_open(j, s.state, s.request, d.jack_device, d.opened);
    }
    return portaudio_open(s, d.pair, d.opened);
}

void device_close(stream_device& d)
{
    stream_jack_close(d.opened);
    if (!d.opened.stream)
        return;
    if (Pa_IsStreamStopped(d.opened.stream) == 0)
        Pa_StopStream(d.opened.stream);
    Pa_CloseStream(d.opened.stream);
    d.opened.stream = nullptr;
}

}  // namespace

void stream_closer::operator()(stream* s) const
{
    if (!s)
        return;
    if (stream_device* d = s->device) {
        device_close(*d);
        stream_jack_release(d->jack);
        stream_clock_close(s->state);
        if (d->portaudio)
            Pa_Terminate();
        delete d;
    }
    // The callback's state last: nothing writes to it any more.
    delete s;
}

stream_versions stream_versions_of()
{
    const PaVersionInfo* info = Pa_GetVersionInfo();
    return {info && info->versionText ? info->versionText : "", stream_jack_version()};
}

stream_ptr stream_open(const stream_request& request, std::string& problem)
{
    static_assert(stream_max_loops <= 64);
    stream_ptr s(new stream);
    s->request = request;
    s->opened_ns = stream_load_clock_ns();
    s->device = new stream_device;
    stream_device& d = *s->device;
    d.jack = stream_jack_connect(s->state, request);
    if (stream_jack_usable(d.jack, request, d.jack_device)) {
        // The loop on the JACK server's first device, straight on JACK: no
        // device index, as PortAudio never started to count them.
        d.on_jack = true;
        s->facts.host_api = stream_jack_host_api;
        s->facts.out_name = s->facts.in_name = d.jack_device.name;
        s->facts.stall_advice = " (JACK server stopped? restart it)";
        s->facts.input_is_monitor = stream_clock_inputs_are_monitor(s->state, d.jack_device.name.c_str());
        s->facts.port_aliases = d.jack_device.aliases;
        s->facts.jack_library = d.jack_device.library;
    } else {
        problem = portaudio_choose(*s, d);
        if (!problem.empty())
            return s;
    }
    problem = device_open(*s, d);
    s->facts.rate = d.opened.rate;
    s->facts.loops = s->state.loops;
    return s;
}

std::string stream_start(stream& s)
{
    // The callbacks' times 10 ms apart at least, further on a run asked to
    // be longer than the ring holds at that spacing.
    const double stride =
        std::max(stream_timed_least_s * s.facts.rate,
                 std::ceil(s.timed_seconds * s.facts.rate / static_cast<double>(stream_timed_capacity)));
    stream_prepare(s.state, s.ring_needed, static_cast<int64_t>(std::lrint(stride)));
    s.state.load_rate = s.facts.rate;
    s.first_sound = -1;
    if (!s.device)
        return "";
    stream_opened& opened = s.device->opened;
    std::string problem;
    if (opened.jack) {
        problem = stream_jack_start(opened);
    } else {
        const PaError started = Pa_StartStream(opened.stream);
        if (started != paNoError)
            return std::string("PortAudio cannot start the stream: ") + Pa_GetErrorText(started);
        if (const PaStreamInfo* info = Pa_GetStreamInfo(opened.stream)) {
            opened.input_latency_frames = info->inputLatency * opened.rate;
            opened.output_latency_frames = info->outputLatency * opened.rate;
            // On JACK's devices (PipeWire's nodes through its JACK face) the
            // server's own port latencies too, read once the stream runs.
            const stream_device& d = *s.device;
            if (device_on_jack(d.pair.output) && device_on_jack(d.pair.input)) {
                opened.server_input_frames = stream_clock_port_latency(s.state, d.pair.input_name.c_str(), true);
                opened.server_output_frames = stream_clock_port_latency(s.state, d.pair.output_name.c_str(), false);
            }
            if (std::fabs(info->sampleRate - opened.rate) > 0.5)
                problem = "rate " + std::to_string(std::lrint(opened.rate)) + " Hz not granted: the stream runs at " +
                          std::to_string(std::lrint(info->sampleRate)) + " Hz";
        }
    }
    s.facts.input_latency_frames = opened.input_latency_frames;
    s.facts.output_latency_frames = opened.output_latency_frames;
    s.facts.server_input_frames = opened.server_input_frames;
    s.facts.server_output_frames = opened.server_output_frames;
    return problem;
}

std::string stream_host_words(const stream& s) { return s.device && s.device->portaudio ? host_words() : ""; }

std::string stream_reopen(stream& s, int64_t buffer)
{
    s.request.buffer = buffer;
    s.opened_ns = stream_load_clock_ns();
    if (!s.device)
        return stream_start(s);
    device_close(*s.device);
    s.device->opened = {};
    const std::string problem = device_open(s, *s.device);
    return problem.empty() ? stream_start(s) : problem;
}
