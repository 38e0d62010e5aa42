// The audio libraries on Linux and other POSIX systems: ALSA and JACK.
#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <jack/jack.h>
#include <pa_jack.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "display/display.hpp"
#include "frame/host.hpp"

const char* const host_no_devices_hint =
    "no devices: start a JACK or PipeWire server, or check ALSA's cards (aplay -l)";

void* host_stream_info(PaDeviceIndex) { return nullptr; }

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

void host_libraries_prepare(const char* client_name)
{
    stderr_silence();
    snd_lib_error_set_handler(alsa_quiet);
    jack_set_error_function(jack_quiet);
    jack_set_info_function(jack_quiet);
    setenv("JACK_NO_START_SERVER", "1", 1);
    if (client_name)
        PaJack_SetClientName(client_name);
}

std::string host_name_to_font(const char* utf8) { return utf8_to_cp437(utf8); }

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
    const std::string path =
        "/dev/shm/jack_sem." + std::to_string(getuid()) + "_" + (server && *server ? server : "default") + "_" + client;
    unlink(path.c_str());
}
