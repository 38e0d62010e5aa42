// The ALSA card behind a PipeWire node, from pw-dump's JSON: pure. pw-dump
// prints every object of the graph as an array of {id, type, info: {props}};
// a node of an ALSA device carries alsa.card (the card's number) and
// device.id (its device object, whose api.alsa.card names the card too).
// PipeWire writes a property that reads as a number as a number, and the
// rest as strings: both are taken.
#include <filesystem>

#include <nlohmann/json.hpp>

#include "loopcheck/identity/identity.hpp"

namespace {

using json = nlohmann::json;

const json* props_of(const json& object)
{
    const auto info = object.find("info");
    if (info == object.end() || !info->is_object())
        return nullptr;
    const auto props = info->find("props");
    return props != info->end() && props->is_object() ? &*props : nullptr;
}

// A property as a card's number (a number, or a string of digits), -1 when it is none.
int card_number(const json& props, const char* key)
{
    const auto v = props.find(key);
    if (v == props.end())
        return -1;
    if (v->is_number_integer()) {
        const int64_t n = v->get<int64_t>();
        return n >= 0 && n < 100 ? static_cast<int>(n) : -1;
    }
    if (!v->is_string())
        return -1;
    const std::string& s = v->get_ref<const std::string&>();
    if (s.empty() || s.size() > 2 || s.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return std::stoi(s);
}

std::string text_of(const json& props, const char* key)
{
    const auto v = props.find(key);
    return v != props.end() && v->is_string() ? v->get<std::string>() : std::string();
}

// Whether a device's or port's name names the node: its node.name,
// node.description or node.nick, whole or as a JACK port's client part
// ("USB Audio CODEC Analog Stereo:capture_FL").
bool names_node(const std::string& name, const json& props)
{
    for (const char* key : {"node.name", "node.description", "node.nick"}) {
        const std::string n = text_of(props, key);
        if (!n.empty() &&
            (name == n || (name.size() > n.size() && name.compare(0, n.size(), n) == 0 && name[n.size()] == ':')))
            return true;
    }
    return false;
}

}  // namespace

identity_pipewire_card identity_pipewire_card_of(const std::string& dump, const std::vector<std::string>& names)
{
    const json objects = json::parse(dump, nullptr, false);
    if (!objects.is_array())
        return {};
    for (const std::string& name : names) {
        if (name.empty())
            continue;
        for (const json& node : objects) {
            if (!node.is_object() || node.value("type", "") != "PipeWire:Interface:Node")
                continue;
            const json* props = props_of(node);
            if (!props || !names_node(name, *props))
                continue;
            int card = card_number(*props, "alsa.card");
            if (card < 0 && card_number(*props, "api.alsa.card") >= 0)
                card = card_number(*props, "api.alsa.card");
            // Else its device's: the device object device.id names.
            const auto device_id = props->find("device.id");
            if (card < 0 && device_id != props->end() && device_id->is_number_integer())
                for (const json& device : objects) {
                    const json* dprops = props_of(device);
                    if (dprops && device.value("type", "") == "PipeWire:Interface:Device" &&
                        device.value("id", int64_t{-1}) == device_id->get<int64_t>()) {
                        card = card_number(*dprops, "api.alsa.card");
                        if (card < 0)
                            card = card_number(*dprops, "alsa.card");
                    }
                }
            if (card >= 0)
                return {card, text_of(*props, "node.name")};
        }
    }
    return {};
}

identity_pipewire_source identity_pipewire_source_of(const std::string& root, const std::string& pipewire_runtime_dir,
                                                     const std::string& xdg_runtime_dir,
                                                     const std::string& pipewire_remote)
{
    namespace fs = std::filesystem;
    std::error_code error;
    if (root != "/")
        return fs::is_regular_file(fs::path(root) / "pw-dump.json", error) ? identity_pipewire_source::fixture
                                                                           : identity_pipewire_source::none;
    // PIPEWIRE_REMOTE names a server (a socket's path or name) that the user chose: ask it.
    if (!pipewire_remote.empty())
        return identity_pipewire_source::server;
    const std::string& dir = pipewire_runtime_dir.empty() ? xdg_runtime_dir : pipewire_runtime_dir;
    return !dir.empty() && fs::exists(fs::path(dir) / "pipewire-0", error) ? identity_pipewire_source::server
                                                                           : identity_pipewire_source::none;
}
