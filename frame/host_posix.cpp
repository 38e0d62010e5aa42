// The audio libraries on Linux and other POSIX systems: ALSA and JACK.
#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <jack/jack.h>
#include <pa_jack.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "charset/charset.hpp"
#include "frame/host.hpp"

const char* const host_no_devices_hint =
    "no devices: start a JACK or PipeWire server, or check ALSA's cards (aplay -l)";

void* host_stream_info(PaDeviceIndex) { return nullptr; }

namespace {

// ALSA's and JACK's own error hooks: the programs show only their own texts.
void alsa_quiet(const char*, int, const char*, int, const char*, ...) {}
void jack_quiet(const char*) {}

// The real standard error while it points at /dev/null, else -1.
int saved_stderr = -1;

// Points standard error at /dev/null until stderr_restore. libjack's metadata
// store (Berkeley DB) writes its own diagnostics straight to standard error,
// past libjack's hooks, now and then while a client opens, which PortAudio
// does in Pa_Initialize.
void stderr_silence()
{
    if (saved_stderr >= 0)
        return;
    std::fflush(stderr);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0)
        return;
    saved_stderr = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    if (saved_stderr >= 0)
        dup2(null, STDERR_FILENO);
    close(null);
}

// Gives the program its standard error back: its own failure lines, PortAudio's
// diagnostics and a sanitizer's or std::terminate's report go there again.
void stderr_restore()
{
    if (saved_stderr < 0)
        return;
    std::fflush(stderr);
    dup2(saved_stderr, STDERR_FILENO);
    close(saved_stderr);
    saved_stderr = -1;
}

}  // namespace

void host_environment_prepare()
{
    const char* value = std::getenv("JACK_NO_START_SERVER");
    if (!value || std::string_view(value) != "1")
        setenv("JACK_NO_START_SERVER", "1", 1);
}

void host_libraries_prepare(const char* client_name)
{
    host_environment_prepare();
    stderr_silence();
    snd_lib_error_set_handler(alsa_quiet);
    jack_set_error_function(jack_quiet);
    jack_set_info_function(jack_quiet);
    if (client_name)
        PaJack_SetClientName(client_name);
}

void host_libraries_started() { stderr_restore(); }

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
