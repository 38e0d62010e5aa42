// Host API choice, device names and quiet library start-up.
#include "frame/device.hpp"

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <pa_jack.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "display/display.hpp"

namespace {

// ALSA's and JACK's own error hooks: the programs show only their own texts.
void alsa_quiet(const char*, int, const char*, int, const char*, ...) {}
void jack_quiet(const char*) {}

// Points standard error at /dev/null for the rest of the run. libjack's
// metadata store (Berkeley DB) writes its own diagnostics straight to standard
// error, past libjack's hooks, now and then while a client opens. The programs
// themselves have nothing to say there once the window is open.
void stderr_silence()
{
    std::fflush(stderr);
    const int null = open("/dev/null", O_WRONLY);
    if (null < 0)
        return;
    dup2(null, STDERR_FILENO);
    close(null);
}

}  // namespace

PaError audio_initialize(const char* client_name)
{
    stderr_silence();
    snd_lib_error_set_handler(alsa_quiet);
    jack_set_error_function(jack_quiet);
    jack_set_info_function(jack_quiet);
    // Stops a JACK client from starting a server of its own when none runs.
    setenv("JACK_NO_START_SERVER", "1", 1);
    if (client_name)
        PaJack_SetClientName(client_name);
    return Pa_Initialize();
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
    const std::string name = utf8_to_cp437(utf8);
    std::memcpy(buffer, name.data(), std::min<size_t>(name.size(), 511));
}

std::string jack_client_name()
{
    const char* name = nullptr;
    return PaJack_GetClientName(&name) == paNoError && name ? std::string(name) : std::string();
}

void jack_client_leftovers_remove(const std::string& client)
{
    if (client.empty())
        return;
    // jack2's name for a client's semaphore: uid, server name (as libjack
    // chooses it: JACK_DEFAULT_SERVER, else "default") and client name.
    const char* server = std::getenv("JACK_DEFAULT_SERVER");
    const std::string path = "/dev/shm/jack_sem." + std::to_string(getuid()) + "_" +
                             (server && *server ? server : "default") + "_" + client;
    unlink(path.c_str());
}
