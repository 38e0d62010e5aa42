// The identity's pure parts: the card a name points at, /proc/asound/cards,
// os-release, and the key an interface is known by.
#include <cctype>
#include <sstream>

#include "loopcheck/identity/identity.hpp"

namespace {

std::string trimmed(const std::string& text)
{
    size_t from = 0, to = text.size();
    while (from < to && std::isspace(static_cast<unsigned char>(text[from])))
        from++;
    while (to > from && std::isspace(static_cast<unsigned char>(text[to - 1])))
        to--;
    return text.substr(from, to - from);
}

}  // namespace

int identity_card_in_name(const std::string& name)
{
    for (size_t at = name.find("hw:"); at != std::string::npos; at = name.find("hw:", at + 1)) {
        // "hw:" begins a word or follows "plug" ("plughw:1,0"); a digit follows it.
        const bool starts = at == 0 || !std::isalnum(static_cast<unsigned char>(name[at - 1])) ||
                            (at >= 4 && name.compare(at - 4, 4, "plug") == 0 &&
                             (at == 4 || !std::isalnum(static_cast<unsigned char>(name[at - 5]))));
        size_t end = at + 3;
        while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end])))
            end++;
        if (!starts || end == at + 3 || end - at - 3 > 2)
            continue;
        // The number ends there: "hw:1,0", "hw:1)", "hw:1:in1", "hw:1".
        if (end < name.size() && std::isalnum(static_cast<unsigned char>(name[end])))
            continue;
        return std::stoi(name.substr(at + 3, end - at - 3));
    }
    return -1;
}

bool identity_cards_entry(const std::string& cards, int index, identity_card& card)
{
    // " 1 [CODEC          ]: USB-Audio - USB Audio CODEC"
    // "                      Burr-Brown from TI USB Audio CODEC at usb-0000:00:14.0-2, full speed"
    std::istringstream in(cards);
    std::string line;
    while (std::getline(in, line)) {
        const size_t open = line.find('['), close = line.find("]:");
        if (open == std::string::npos || close == std::string::npos || close < open)
            continue;
        const std::string number = trimmed(line.substr(0, open));
        if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos || std::stoi(number) != index)
            continue;
        card.index = index;
        card.id = trimmed(line.substr(open + 1, close - open - 1));
        const std::string rest = line.substr(close + 2);
        const size_t dash = rest.find(" - ");
        card.driver = trimmed(rest.substr(0, dash));
        card.name = dash == std::string::npos ? "" : trimmed(rest.substr(dash + 3));
        std::string next;
        if (std::getline(in, next) && next.find("]:") == std::string::npos)
            card.long_name = trimmed(next);
        return true;
    }
    return false;
}

std::string identity_os_release(const std::string& text)
{
    std::istringstream in(text);
    std::string line, pretty, name, version;
    while (std::getline(in, line)) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos || trimmed(line).starts_with("#"))
            continue;
        const std::string key = trimmed(line.substr(0, equals));
        std::string value = trimmed(line.substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        if (key == "PRETTY_NAME")
            pretty = value;
        else if (key == "NAME")
            name = value;
        else if (key == "VERSION")
            version = value;
    }
    if (!pretty.empty())
        return pretty;
    return version.empty() ? name : name + " " + version;
}

std::string identity_key(const identity& id, const std::string& devices)
{
    if (id.card && id.card->usb) {
        const identity_usb& u = *id.card->usb;
        return "usb:" + u.vendor_id + ":" + u.product_id + ":" + u.serial;
    }
    if (id.card && id.card->pci) {
        const identity_pci& p = *id.card->pci;
        return "pci:" + p.vendor_id + ":" + p.device_id + ":" + p.subsystem_vendor_id + ":" + p.subsystem_device_id +
               "@" + p.slot;
    }
    if (id.card)
        return "alsa:" + id.card->id + ":" + id.card->long_name;
    return devices;
}
