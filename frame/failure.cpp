// The start-up failure line for standard error.
#include "frame/failure.hpp"

#include "frame/device.hpp"

namespace {

// "0 inputs", "1 input", "2 inputs".
std::string channels(int count, const char* what)
{
    return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

}  // namespace

std::string failure_line(std::string_view program, std::string_view message, PaError error, int64_t device,
                         const PaDeviceInfo* info, const PaHostErrorInfo* host)
{
    std::string line = std::string(program) + ": " + std::string(message);
    if (error != paNoError) {
        line += ": ";
        line += Pa_GetErrorText(error);
        if (error == paUnanticipatedHostError && host && host->errorText && *host->errorText)
            line += std::string(": ") + host->errorText;
    }
    if (device >= 0) {
        line += " (device " + std::to_string(device);
        if (info)
            line += std::string(", \"") + (info->name ? info->name : "") +
                    "\": " + channels(info->maxInputChannels, "input") + ", " +
                    channels(info->maxOutputChannels, "output") + ")";
        else
            line += ": no such device)";
    }
    return line;
}

std::string failure_line(std::string_view program, std::string_view message, PaError error, int64_t device)
{
    const PaDeviceInfo* info = device_exists(device) ? Pa_GetDeviceInfo(static_cast<PaDeviceIndex>(device)) : nullptr;
    return failure_line(program, message, error, device, info, Pa_GetLastHostErrorInfo());
}
