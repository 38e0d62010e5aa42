// Device look-up.
#include "loopcheck/io/devices.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

#include "frame/device.hpp"

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

std::string devices_name_of(PaDeviceIndex device)
{
    const PaDeviceInfo* info = device >= 0 && device < Pa_GetDeviceCount() ? Pa_GetDeviceInfo(device) : nullptr;
    return info && info->name ? info->name : "";
}

int devices_alsa_card(std::string_view name)
{
    const size_t at = name.rfind("(hw:");
    if (at == std::string_view::npos || at + 4 >= name.size() ||
        !std::isdigit(static_cast<unsigned char>(name[at + 4])))
        return -1;
    return std::atoi(std::string(name.substr(at + 4)).c_str());
}

device_pick devices_pick_named(std::string_view text, PaHostApiIndex api)
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
        const std::string name = devices_name_of(device);
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
        names.append(std::to_string(m)).append(" \"").append(devices_name_of(m)).append("\"");
    }
    return {paNoDevice, "\"" + std::string(text) + "\" names " + std::to_string(matches.size()) + " devices: " + names};
}

std::string devices_choose(const stream_request& o, PaHostApiIndex api, devices_pair& chosen)
{
    duplex_devices pair = duplex_choose(-1);
    if (!o.device.empty()) {
        const device_pick named = devices_pick_named(o.device, api);
        if (named.index == paNoDevice)
            return named.problem;
        pair = duplex_choose(named.index);
    }
    for (const auto& [text, side] : {std::pair{&o.out_device, &pair.output}, std::pair{&o.in_device, &pair.input}}) {
        if (text->empty())
            continue;
        const device_pick named = devices_pick_named(*text, api);
        if (named.index == paNoDevice)
            return named.problem;
        *side = named.index;
    }
    if (pair.input == paNoDevice || pair.output == paNoDevice)
        return "no device: start a JACK or PipeWire server, or check ALSA's cards (aplay -l)";
    chosen.output = pair.output, chosen.input = pair.input;
    chosen.output_name = devices_name_of(pair.output), chosen.input_name = devices_name_of(pair.input);
    const PaDeviceInfo* oi = Pa_GetDeviceInfo(pair.output);
    const PaDeviceInfo* ii = Pa_GetDeviceInfo(pair.input);
    if (oi->hostApi != ii->hostApi)
        return "input and output on two host APIs: not supported";
    // Two ALSA devices are two cards, and two clocks, unless their names show one card.
    const PaHostApiInfo* out_api = Pa_GetHostApiInfo(oi->hostApi);
    const int out_card = devices_alsa_card(chosen.output_name), in_card = devices_alsa_card(chosen.input_name);
    // The monitor tracks the two clocks' slide and reports it: there they are allowed.
    if (pair.input != pair.output && out_api && out_api->type == paALSA && (out_card < 0 || out_card != in_card) &&
        !o.two_clocks)
        return "input and output on two ALSA devices run on two clocks: not supported (use one device, or JACK / "
               "PipeWire's pw-jack, where every device shares the server's clock; --monitor measures their drift)";
    return "";
}
