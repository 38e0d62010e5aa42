// The start-up failure line: PortAudio's own texts for its error codes, the
// host API's text where PortAudio has only "unanticipated", and the device.
#include <gtest/gtest.h>

#include "frame/failure.hpp"

namespace {

TEST(FailureLine, NamesProgramMessageReasonAndDevice)
{
    PaDeviceInfo sink{};
    sink.name = "Loop sink";
    sink.maxInputChannels = 0;
    sink.maxOutputChannels = 2;
    PaDeviceInfo parenthesised{};
    parenthesised.name = "Stack loop (null sink)";
    PaDeviceInfo metronome{};
    metronome.name = "metro";
    metronome.maxInputChannels = 1;
    PaHostErrorInfo alsa{};
    alsa.hostApiType = paALSA;
    alsa.errorCode = -16;
    alsa.errorText = "Device or resource busy";
    PaHostErrorInfo empty{};
    empty.errorText = "";
    const struct {
        const char* message;
        PaError error;
        int64_t device;
        const PaDeviceInfo* info;
        const PaHostErrorInfo* host;
        const char* line;
    } cases[] = {
        {"PortAudio stream setting error", paInvalidChannelCount, 3, &sink, nullptr,
         "karvel: PortAudio stream setting error: Invalid number of channels (device 3, \"Loop sink\": 0 inputs, 2 "
         "outputs)"},
        {"PortAudio stream setting error", paInvalidChannelCount, 4, &parenthesised, nullptr,
         "karvel: PortAudio stream setting error: Invalid number of channels (device 4, \"Stack loop (null sink)\": 0 "
         "inputs, 0 outputs)"},
        {"PortAudio stream setting error", paInvalidChannelCount, 2, &metronome, nullptr,
         "karvel: PortAudio stream setting error: Invalid number of channels (device 2, \"metro\": 1 input, 0 "
         "outputs)"},
        {"PortAudio stream setting error", paInvalidSampleRate, 0, &sink, nullptr,
         "karvel: PortAudio stream setting error: Invalid sample rate (device 0, \"Loop sink\": 0 inputs, 2 outputs)"},
        // A -d that names no device: no record to read.
        {"PortAudio stream setting error", paInvalidDevice, 2147483648, nullptr, nullptr,
         "karvel: PortAudio stream setting error: Invalid device (device 2147483648: no such device)"},
        // The host API's reason follows only PortAudio's "unanticipated".
        {"PortAudio can't start stream", paUnanticipatedHostError, 1, &sink, &alsa,
         "karvel: PortAudio can't start stream: Unanticipated host error: Device or resource busy (device 1, \"Loop "
         "sink\": 0 inputs, 2 outputs)"},
        {"PortAudio can't start stream", paUnanticipatedHostError, 1, &sink, &empty,
         "karvel: PortAudio can't start stream: Unanticipated host error (device 1, \"Loop sink\": 0 inputs, 2 "
         "outputs)"},
        {"PortAudio can't start stream", paDeviceUnavailable, 1, &sink, &alsa,
         "karvel: PortAudio can't start stream: Device unavailable (device 1, \"Loop sink\": 0 inputs, 2 outputs)"},
        // Before a device is chosen: no device part; with no PortAudio error, no reason.
        {"PortAudio initialize error", paInsufficientMemory, -1, nullptr, nullptr,
         "karvel: PortAudio initialize error: Insufficient memory"},
        {"no ASIO device", paNoError, -1, nullptr, nullptr, "karvel: no ASIO device"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(failure_line("karvel", c.message, c.error, c.device, c.info, c.host), c.line);
}

}  // namespace
