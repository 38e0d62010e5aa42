// Each device's smallest and largest buffer size in frames, whichever host
// API lists it, so that the listing never needs to know which one it shows.
#pragma once
#include <portaudio.h>

#include <string>
#include <string_view>

// Asks the driver behind a device for the buffer sizes that it accepts:
//   ASIO (Windows only): the driver's own range, preferred size and granularity;
//   JACK: the server's current period size as minimum, maximum and preferred;
//   ALSA: the smallest and largest period size of the device's hardware
//         parameters (preferred and granularity stay 0).
// All four are set to 0 first and stay 0 unless the query succeeds, so a
// failed query never shows another device's sizes. Returns true on success.
bool buffer_size_range(PaHostApiTypeId type, PaDeviceIndex device, long& min, long& max, long& preferred,
                       long& granularity);

// The ALSA PCM behind a PortAudio ALSA device name: the "hw:X,Y" of
// "card: device (hw:X,Y)", else the name unchanged ("default", "pulse", ...).
std::string alsa_pcm_name(std::string_view device_name);

// Smallest and largest period size (frames) that the PCM's hardware parameters
// allow, asked of the playback side first, then of the capture side. The PCM
// is opened without blocking and closed at once. Both 0 and false on failure.
bool alsa_period_range(const char* pcm_name, long& min, long& max);

// The current period size of the JACK server that PortAudio talks to
// (JACK_DEFAULT_SERVER, else "default"), never starting one. 0 and false when
// no server answers.
bool jack_period_size(long& frames);

// The platform's own query for one existing device of the host API type;
// false when it has none or the query fails (the caller clears the values).
bool host_buffer_sizes(PaHostApiTypeId type, PaDeviceIndex device, long& min, long& max, long& preferred,
                       long& granularity);
