// Host API and device: which PortAudio host API the programs list and open,
// the device name in the window font's character set, and a quiet start of
// the audio libraries.
#pragma once
#include <portaudio.h>

#include <cstdint>

// Names the program's JACK client, silences the diagnostics that ALSA and JACK
// write through their hooks for the rest of the run, then Pa_Initialize with
// standard error pointed at /dev/null (libjack's database writes there while a
// client opens). Standard error is the real one again when it returns.
PaError audio_initialize(const char* client_name);

// The host API to use: ASIO where PortAudio has it; else JACK where a JACK
// server answered PortAudio's probe; else PortAudio's default host API.
// Negative when PortAudio has none at all.
PaHostApiIndex host_api_choose();

// True when index names an existing PortAudio device.
bool device_exists(int64_t index);

// Fills the 512-byte buffer with the device's name, converted from UTF-8 to
// code page 437 ("?" for characters it lacks), cut to 511 bytes, NUL-terminated.
// An index that names no device gives an empty name.
void device_name(int64_t index, char* buffer);
// The conversion and cut of device_name, for a name given in UTF-8.
void device_name_convert(const char* utf8, char* buffer);
