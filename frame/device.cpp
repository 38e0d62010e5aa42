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
    return Pa_GetDefaultHostApi();
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
