// The identity read from sysfs and procfs under a root (LOOPCHECK_SYSFS, or
// "/"). Every file is optional: what the system does not tell stays "".
// std::filesystem alone, so that the Windows build compiles it too (there the
// root holds none of these files and the identity is the machine's name).
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "loopcheck/identity/identity.hpp"

namespace {

namespace fs = std::filesystem;

// A file's first line, trimmed; "" when it cannot be read.
std::string first_line(const fs::path& path)
{
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line))
        return "";
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.pop_back();
    return line;
}

std::string whole(const fs::path& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return in ? text.str() : "";
}

// The path's real place, its links followed; empty when it is not there or lies outside root.
fs::path resolved(const fs::path& root, const fs::path& path)
{
    std::error_code error;
    const fs::path real = fs::canonical(path, error);
    const fs::path base = fs::canonical(root, error);
    if (real.empty() || base.empty())
        return {};
    const std::string r = real.string(), b = base.string();
    return r.compare(0, b.size(), b) == 0 ? real : fs::path{};
}

// The kernel's driver of a device folder: the name its "driver" link points at.
std::string module_of(const fs::path& device)
{
    std::error_code error;
    const fs::path link = fs::read_symlink(device / "driver", error);
    return error ? "" : link.filename().string();
}

// The USB device above an interface folder (the first with idVendor, at most three up, inside root).
std::optional<identity_usb> usb_of(const fs::path& root, fs::path folder)
{
    const fs::path base = resolved(root, root);
    for (int up = 0; up < 4 && !folder.empty() && folder.string().size() > base.string().size(); up++) {
        if (fs::exists(folder / "idVendor")) {
            identity_usb u;
            u.vendor_id = first_line(folder / "idVendor"), u.product_id = first_line(folder / "idProduct");
            u.serial = first_line(folder / "serial"), u.release = first_line(folder / "bcdDevice");
            u.manufacturer = first_line(folder / "manufacturer"), u.product = first_line(folder / "product");
            return u;
        }
        folder = folder.parent_path();
    }
    return std::nullopt;
}

std::optional<identity_pci> pci_of(const fs::path& folder)
{
    if (!fs::exists(folder / "vendor") || !fs::exists(folder / "device") || !fs::exists(folder / "class"))
        return std::nullopt;
    identity_pci p;
    p.slot = folder.filename().string();
    p.vendor_id = first_line(folder / "vendor"), p.device_id = first_line(folder / "device");
    p.subsystem_vendor_id = first_line(folder / "subsystem_vendor");
    p.subsystem_device_id = first_line(folder / "subsystem_device");
    p.revision = first_line(folder / "revision");
    return p;
}

}  // namespace

std::string identity_root()
{
    const char* root = std::getenv("LOOPCHECK_SYSFS");
    return root && *root ? root : "/";
}

identity_system identity_read_system(const std::string& root)
{
    const fs::path r = root;
    identity_system s;
    s.hostname = first_line(r / "proc/sys/kernel/hostname");
    const std::string type = first_line(r / "proc/sys/kernel/ostype"),
                      release = first_line(r / "proc/sys/kernel/osrelease");
    s.kernel = type.empty() ? release : release.empty() ? type : type + " " + release;
    s.os = identity_os_release(whole(r / "etc/os-release"));
    if (s.os.empty())
        s.os = identity_os_release(whole(r / "usr/lib/os-release"));
    s.dmi_vendor = first_line(r / "sys/class/dmi/id/sys_vendor");
    s.dmi_product = first_line(r / "sys/class/dmi/id/product_name");
#ifdef _WIN32
    // No procfs: the machine's name from the environment.
    if (s.hostname.empty() && std::getenv("COMPUTERNAME"))
        s.hostname = std::getenv("COMPUTERNAME");
    if (s.os.empty())
        s.os = "Windows";
#endif
    return s;
}

std::optional<identity_card> identity_read_card(const std::string& root, int index)
{
    if (index < 0)
        return std::nullopt;
    const fs::path r = root;
    identity_card card;
    if (!identity_cards_entry(whole(r / "proc/asound/cards"), index, card)) {
        // No procfs entry: sysfs's id alone, where it is there.
        card.index = index;
        card.id = first_line(r / "sys/class/sound" / ("card" + std::to_string(index)) / "id");
        if (card.id.empty())
            return std::nullopt;
    }
    const fs::path device = resolved(r, r / "sys/class/sound" / ("card" + std::to_string(index)) / "device");
    if (device.empty())
        return card;
    card.module = module_of(device);
    card.usb = usb_of(r, device);
    if (!card.usb)
        card.pci = pci_of(device);
    return card;
}

identity identity_read(const std::string& root, const std::vector<std::string>& names)
{
    identity id;
    const std::time_t now = std::time(nullptr);
    char text[32] = "";
    // std::gmtime's static result: the identity is read on the main thread alone.
    if (const std::tm* utc = std::gmtime(&now))
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
    id.time = text;
    id.system = identity_read_system(root);
    for (const std::string& name : names) {
        const int index = identity_card_in_name(name);
        if (index < 0)
            continue;
        id.card = identity_read_card(root, index);
        id.card_from = name;
        break;
    }
    if (!id.card_from.empty())
        return id;
    const identity_pipewire_card pw = identity_pipewire_card_of(identity_pipewire_dump(root), names);
    if (pw.card >= 0) {
        id.card = identity_read_card(root, pw.card);
        if (id.card)
            id.card_from = "pipewire:" + pw.node;
    }
    return id;
}
