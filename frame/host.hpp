// What is not portable about the audio libraries and device names; one source
// file per platform (host_posix.cpp, host_windows.cpp), chosen by CMake.
#pragma once
#include <string>

// Sets the environment variables that the audio libraries read (a JACK client
// must not start a server of its own). Called before any thread starts, since
// setenv races with getenv in other threads (the window's, libjack's); again
// later it changes nothing and writes nothing.
void host_environment_prepare();

// Before Pa_Initialize: host_environment_prepare; silences the diagnostics that
// the host APIs' own libraries write to standard error (ALSA, JACK and
// libjack's database on Linux) while they start; names the program's JACK
// client.
void host_libraries_prepare(const char* client_name);
// After Pa_Initialize: gives standard error back.
void host_libraries_started();

// A device name as PortAudio gives it (UTF-8) in code page 437, the window
// font's character set, one byte per character; "?" where it has none.
std::string host_name_to_font(const char* utf8);

// The name of the program's JACK client as the server knows it (libjack may
// have added a number), or "" when PortAudio has no JACK client.
std::string jack_client_name();
// Removes the entry that a JACK server keeps in /dev/shm for the named client's
// semaphore. A server that goes away leaves it behind for every client still
// connected (jack_iodelay's too), and nothing else would ever remove it.
void jack_client_leftovers_remove(const std::string& client);
