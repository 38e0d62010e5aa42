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
// server answered PortAudio's probe; else WASAPI where it exists (Windows
// without ASIO: Windows' own audio path; WMME, the default of PortAudio, needs
// a tenth of a second of buffering before it delivers every frame); else
// PortAudio's default host API. Negative when PortAudio has none at all.
PaHostApiIndex host_api_choose();

// The two devices of a full-duplex stream: one device both ways on ASIO, JACK
// and ALSA; on WMME, DirectSound and WASAPI, which list every input and every
// output as a one-way device of its own, two devices.
struct duplex_devices {
    PaDeviceIndex input = paNoDevice;
    PaDeviceIndex output = paNoDevice;
};

// The pairing rule: a device with inputs and outputs serves both ways; an
// output-only device plays, and its host API's default input records; an
// input-only device records, and the default output plays. A device with
// neither is returned both ways, for the stream opening to refuse.
duplex_devices duplex_pair(PaDeviceIndex device, int inputs, int outputs, PaDeviceIndex default_input,
                           PaDeviceIndex default_output);

// The devices the programs open for a device option (negative: none given).
// Without one, the chosen host API's first device if it has both directions,
// else that host API's default input and default output. An option names the
// device measured and pairs it by duplex_pair; one that names no device gives
// paNoDevice both ways, as does a host API without devices.
duplex_devices duplex_choose(int64_t device_option);

// True when index names an existing PortAudio device.
bool device_exists(int64_t index);

// Fills the 512-byte buffer with the device's name, converted from UTF-8 to
// code page 437 ("?" for characters it lacks), cut to 511 bytes, NUL-terminated.
// An index that names no device gives an empty name.
void device_name(int64_t index, char* buffer);
// The conversion and cut of device_name, for a name given in UTF-8.
void device_name_convert(const char* utf8, char* buffer);
