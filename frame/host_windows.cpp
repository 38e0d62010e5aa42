// The audio libraries on Windows: ASIO and the system's own host APIs, whose
// drivers print nothing and name no clients.
#include <windows.h>
// After windows.h, which it needs.
#include <pa_win_wasapi.h>

#include "frame/host.hpp"

const char* const host_no_devices_hint =
    "no devices: check the sound devices in Windows' Sound settings, or install the interface's ASIO driver";

void host_environment_prepare() {}
void host_libraries_prepare(const char*) {}
void host_libraries_started() {}

void* host_stream_info(PaDeviceIndex device)
{
    static PaWasapiStreamInfo wasapi{};
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    const PaHostApiInfo* api = info ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
    if (!api || api->type != paWASAPI)
        return nullptr;
    wasapi.size = sizeof wasapi;
    wasapi.hostApiType = paWASAPI;
    wasapi.version = 1;
    wasapi.flags = paWinWasapiAutoConvert;
    return &wasapi;
}

// UTF-8 to UTF-16 (at most 512 units), then to code page 437 (at most 512
// bytes), the window font's own character set.
std::string host_name_to_font(const char* utf8)
{
    wchar_t wide[512] = {};
    if (MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 512) == 0)
        return "";
    wide[511] = L'\0';
    char narrow[512] = {};
    if (WideCharToMultiByte(437, 0, wide, -1, narrow, 512, "?", nullptr) == 0)
        return "";
    narrow[511] = '\0';
    return narrow;
}

std::string jack_client_name() { return ""; }

void jack_client_leftovers_remove(const std::string&) {}
