// The stream's life: open, start, close.
#include "loopcheck/io/stream_open.hpp"

#include <algorithm>
#include <cmath>

#include "frame/host.hpp"
#include "loopcheck/io/stream_jack.hpp"

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

}  // namespace

std::string stream_channels_set(stream_state& s, const stream_request& o, int outputs, int inputs,
                                const std::string& out_device, const std::string& in_device)
{
    // At least two channels where the device has them, as the windowed
    // programs open: a mono stream is the host APIs' least travelled road
    // (Wine's WASAPI carries nothing on it).
    s.loops = static_cast<int>(o.out_channels.size());
    s.out_channels = std::min(2, outputs), s.in_channels = std::min(2, inputs);
    for (int k = 0; k < s.loops; k++) {
        const int out = static_cast<int>(o.out_channels[k]), in = static_cast<int>(o.in_channels[k]);
        if (outputs < out)
            return "output channel " + std::to_string(out) + " not present (" + out_device + " has " +
                   std::to_string(outputs) + " outputs)";
        if (inputs < in)
            return "input channel " + std::to_string(in) + " not present (" + in_device + " has " +
                   std::to_string(inputs) + " inputs)";
        s.out_channels = std::max(s.out_channels, out), s.in_channels = std::max(s.in_channels, in);
        s.out_channel[k] = out - 1, s.in_channel[k] = in - 1;
    }
    return "";
}

std::string stream_open(stream_state& s, const stream_request& o, const devices_pair& pair, stream_opened& opened)
{
    const PaDeviceInfo* oi = Pa_GetDeviceInfo(pair.output);
    const PaDeviceInfo* ii = Pa_GetDeviceInfo(pair.input);
    const PaHostApiInfo* api = Pa_GetHostApiInfo(oi->hostApi);
    const std::string channels =
        stream_channels_set(s, o, oi->maxOutputChannels, ii->maxInputChannels,
                            pa_device_text(pair.output, pair.output_name), pa_device_text(pair.input, pair.input_name));
    if (!channels.empty())
        return channels;
    opened.rate = o.rate > 0.0 ? o.rate : oi->defaultSampleRate;
    // -b as the suggested latency, at the rate asked for; ALSA's choice is
    // made again below if the rate changes (a latency in seconds scales).
    const double asked = o.buffer > 0 ? static_cast<double>(o.buffer) / opened.rate : 0.0;
    PaStreamParameters output = side(pair.output, s.out_channels, asked > 0 ? asked : oi->defaultLowOutputLatency);
    PaStreamParameters input = side(pair.input, s.in_channels, asked > 0 ? asked : ii->defaultLowInputLatency);
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
                          stream_callback, &s);
    if (error != paNoError) {
        opened.stream = nullptr;
        return std::string("PortAudio cannot open the stream: ") + Pa_GetErrorText(error) + where;
    }
    return "";
}

std::string stream_start(stream_opened& opened)
{
    if (opened.jack)
        return stream_jack_start(opened);
    const PaError started = Pa_StartStream(opened.stream);
    if (started != paNoError)
        return std::string("PortAudio cannot start the stream: ") + Pa_GetErrorText(started);
    const PaStreamInfo* info = Pa_GetStreamInfo(opened.stream);
    if (!info)
        return "";
    opened.input_latency_frames = info->inputLatency * opened.rate;
    opened.output_latency_frames = info->outputLatency * opened.rate;
    if (std::fabs(info->sampleRate - opened.rate) > 0.5)
        return "rate " + std::to_string(std::lrint(opened.rate)) + " Hz not granted: the stream runs at " +
               std::to_string(std::lrint(info->sampleRate)) + " Hz";
    return "";
}

void stream_close(stream_opened& opened)
{
    stream_jack_close(opened);
    if (!opened.stream)
        return;
    if (Pa_IsStreamStopped(opened.stream) == 0)
        Pa_StopStream(opened.stream);
    Pa_CloseStream(opened.stream);
    opened.stream = nullptr;
}

std::string stream_stall_advice(PaDeviceIndex device)
{
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    const PaHostApiInfo* host = info ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
    return host && host->type == paJACK ? " (JACK server stopped? restart it)"
                                        : " (try another -b, or a smaller PipeWire quantum)";
}
