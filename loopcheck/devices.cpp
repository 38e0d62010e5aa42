// Device look-up.
#include "loopcheck/devices.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

namespace {

std::string lowered(std::string_view text)
{
    std::string s(text);
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool all_digits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

}  // namespace

std::string device_name_of(PaDeviceIndex device)
{
    const PaDeviceInfo* info = device >= 0 && device < Pa_GetDeviceCount() ? Pa_GetDeviceInfo(device) : nullptr;
    return info && info->name ? info->name : "";
}

int device_alsa_card(std::string_view name)
{
    const size_t at = name.rfind("(hw:");
    if (at == std::string_view::npos || at + 4 >= name.size() || !std::isdigit(static_cast<unsigned char>(name[at + 4])))
        return -1;
    return std::atoi(std::string(name.substr(at + 4)).c_str());
}

device_pick device_pick_named(std::string_view text, PaHostApiIndex api)
{
    const PaHostApiInfo* host = api >= 0 ? Pa_GetHostApiInfo(api) : nullptr;
    if (!host || host->deviceCount <= 0)
        return {paNoDevice, "no device: start a JACK or PipeWire server, or check ALSA's cards (aplay -l)"};
    if (all_digits(text)) {
        const long index = text.size() > 6 ? -1 : std::stol(std::string(text));
        if (index < 0 || index >= Pa_GetDeviceCount())
            return {paNoDevice, "no device " + std::string(text) + " (dravik lists them)"};
        return {static_cast<PaDeviceIndex>(index), ""};
    }
    std::vector<PaDeviceIndex> matches;
    for (int i = 0; i < host->deviceCount; i++) {
        const PaDeviceIndex device = Pa_HostApiDeviceIndexToDeviceIndex(api, i);
        const std::string name = device_name_of(device);
        if (name == text)
            return {device, ""};
        if (lowered(name).find(lowered(text)) != std::string::npos)
            matches.push_back(device);
    }
    if (matches.size() == 1)
        return {matches[0], ""};
    if (matches.empty())
        return {paNoDevice, "no device named like \"" + std::string(text) + "\" (dravik lists them)"};
    std::string names;
    for (PaDeviceIndex m : matches) {
        if (!names.empty())
            names.append(", ");
        names.append(std::to_string(m)).append(" \"").append(device_name_of(m)).append("\"");
    }
    return {paNoDevice, "\"" + std::string(text) + "\" names " + std::to_string(matches.size()) + " devices: " + names};
}
