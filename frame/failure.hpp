// The one line on standard error that tells a script or a user why a program
// could not start, beside the "!!! " line in its window.
#pragma once
#include <portaudio.h>

#include <cstdint>
#include <string>
#include <string_view>

// "karvel: PortAudio stream setting error: Invalid number of channels (device 3,
// "Loop sink": 0 inputs, 0 outputs)": the program, the message (without its
// "!!! "), PortAudio's text for error (none for paNoError) followed by the host
// API's own where error is paUnanticipatedHostError and host gives one, and the
// device where one was chosen (device >= 0): its name and channels from info, or
// "no such device" without it. No line end.
std::string failure_line(std::string_view program, std::string_view message, PaError error, int64_t device,
                         const PaDeviceInfo* info, const PaHostErrorInfo* host);
// The same with PortAudio's own records: the device's, and the last host error.
std::string failure_line(std::string_view program, std::string_view message, PaError error, int64_t device);
