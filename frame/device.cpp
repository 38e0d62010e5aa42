// Host API choice, device names and quiet library start-up.
#include "frame/device.hpp"

#include <algorithm>
#include <cstring>
#include <string>

#include "frame/host.hpp"

PaError audio_initialize(const char* client_name)
{
    host_libraries_prepare(client_name);
    const PaError error = Pa_Initialize();
    host_libraries_started();
    return error;
}

PaHostApiIndex host_api_choose()
{
    const PaHostApiIndex asio = Pa_HostApiTypeIdToHostApiIndex(paASIO);
    if (asio >= 0)
        return asio;
    const PaHostApiIndex jack = Pa_HostApiTypeIdToHostApiIndex(paJACK);
    if (jack >= 0) {
        const PaHostApiInfo* info = Pa_GetHostApiInfo(jack);
        if (info && info->deviceCount > 0)
            return jack;
    }
    const PaHostApiIndex wasapi = Pa_HostApiTypeIdToHostApiIndex(paWASAPI);
    if (wasapi >= 0)
        return wasapi;
    return Pa_GetDefaultHostApi();
}

duplex_devices duplex_pair(PaDeviceIndex device, int inputs, int outputs, PaDeviceIndex default_input,
                           PaDeviceIndex default_output)
{
    if (inputs > 0 && outputs <= 0)
        return {device, default_output};
    if (outputs > 0 && inputs <= 0)
        return {default_input, device};
    return {device, device};
}

duplex_devices duplex_choose(int64_t device_option)
{
    PaDeviceIndex device = paNoDevice;
    if (device_option >= 0) {
        if (!device_exists(device_option))
            return {};
        device = static_cast<PaDeviceIndex>(device_option);
    } else {
        const PaHostApiIndex api = host_api_choose();
        const PaHostApiInfo* info = api >= 0 ? Pa_GetHostApiInfo(api) : nullptr;
        if (!info || info->deviceCount <= 0)
            return {};
        device = Pa_HostApiDeviceIndexToDeviceIndex(api, 0);
        const PaDeviceInfo* first = Pa_GetDeviceInfo(device);
        if (!first || first->maxInputChannels <= 0 || first->maxOutputChannels <= 0)
            return {info->defaultInputDevice, info->defaultOutputDevice};
    }
    const PaDeviceInfo* named = Pa_GetDeviceInfo(device);
    const PaHostApiInfo* api = named ? Pa_GetHostApiInfo(named->hostApi) : nullptr;
    if (!named || !api)
        return {};
    return duplex_pair(device, named->maxInputChannels, named->maxOutputChannels, api->defaultInputDevice,
                       api->defaultOutputDevice);
}

bool device_exists(int64_t index)
{
    return index >= 0 && index < Pa_GetDeviceCount() && Pa_GetDeviceInfo(static_cast<PaDeviceIndex>(index));
}

void device_name(int64_t index, char* buffer)
{
    const PaDeviceInfo* info = device_exists(index) ? Pa_GetDeviceInfo(static_cast<PaDeviceIndex>(index)) : nullptr;
    device_name_convert(info ? info->name : nullptr, buffer);
}

void device_name_convert(const char* utf8, char* buffer)
{
    std::memset(buffer, 0, 512);
    if (!utf8)
        return;
    // One byte per character in code page 437, so any cut is a character boundary.
    const std::string name = host_name_to_font(utf8);
    std::memcpy(buffer, name.data(), std::min<size_t>(name.size(), 511));
}
