// The interface's identity: the machine, its system, and the hardware behind
// the device's name where the system tells it (on Linux the ALSA card's id,
// names and driver, and for USB the vendor and product IDs, serial and
// release, bcdDevice, the firmware; for PCI its IDs and slot), read from
// sysfs and procfs under a root (LOOPCHECK_SYSFS, a folder that stands for
// "/", for the tests' fixture trees). Parsing is pure; reading touches files
// under the root only. Nothing here sees PortAudio or JACK: their versions
// and the JACK ports' aliases are handed in.
#pragma once
#include <optional>
#include <string>
#include <vector>

struct identity_usb {
    std::string vendor_id, product_id;  // "08bb", "2902": sysfs's idVendor, idProduct
    std::string serial;                 // "" where the device has none
    std::string release;                // bcdDevice, the firmware's release: "0100"
    std::string manufacturer, product;
};

struct identity_pci {
    std::string slot;                                                                      // "0000:00:1f.3"
    std::string vendor_id, device_id, subsystem_vendor_id, subsystem_device_id, revision;  // "0x8086", ...
};

struct identity_card {
    int index = -1;
    std::string id;         // ALSA's card id: "CODEC"
    std::string driver;     // ALSA's driver name: "USB-Audio"
    std::string name;       // "USB Audio CODEC"
    std::string long_name;  // "Burr-Brown from TI USB Audio CODEC at usb-0000:00:14.0-2, full speed"
    std::string module;     // the kernel's driver of the device: "snd-usb-audio", "snd_hda_intel"
    std::optional<identity_usb> usb;
    std::optional<identity_pci> pci;
};

struct identity_system {
    std::string hostname, os, kernel;  // "bench-3", "Debian GNU/Linux 13 (trixie)", "Linux 6.12.48-amd64"
    std::string dmi_vendor, dmi_product;
};

struct identity {
    std::string time;  // when it was read, the run's end: ISO 8601 in UTC, "2026-12-10T09:00:00Z"
    identity_system system;
    std::optional<identity_card> card;
    std::string card_from;  // the name the card was found through ("hw:1" in it), "" when none
};

// ---- pure -------------------------------------------------------------------------

// The ALSA card a name points at: N of "hw:N" or "plughw:N" ("USB Audio CODEC: USB Audio (hw:1,0)",
// JACK's alias "alsa_pcm:hw:1:in1"); -1 when it names none.
int identity_card_in_name(const std::string& name);

// Card index's entry of /proc/asound/cards: its id, driver, name and long name. False when not there.
bool identity_cards_entry(const std::string& cards, int index, identity_card& card);

// The ALSA card behind the PipeWire node one of names names (tried in
// turn), from pw-dump's JSON: the node whose node.name, node.description or
// node.nick is the name, or its client part before ':' (a JACK port on
// PipeWire); its alsa.card (or api.alsa.card), else its device's
// api.alsa.card (device.id). card -1 when none (no such node, not ALSA's,
// not JSON).
struct identity_pipewire_card {
    int card = -1;
    std::string node;  // the node's node.name
};
identity_pipewire_card identity_pipewire_card_of(const std::string& dump, const std::vector<std::string>& names);

// PRETTY_NAME of an os-release file, unquoted; NAME and VERSION where it has none; "" when neither.
std::string identity_os_release(const std::string& text);

// The interface as a key that stays when its firmware or the host changes:
// "usb:08bb:2902:SERIAL", "pci:0x8086:0xa348:0x1028:0x0869@0000:00:1f.3",
// "alsa:ID:long name", else the devices' names on their host API.
std::string identity_key(const identity& id, const std::string& devices);

// ---- under a root -----------------------------------------------------------------

// The root the system's files are read under: LOOPCHECK_SYSFS, or "/".
std::string identity_root();

// The machine and its system: hostname, OS, kernel, DMI.
identity_system identity_read_system(const std::string& root);

// ALSA card index with its hardware (USB or PCI, where sysfs tells it).
std::optional<identity_card> identity_read_card(const std::string& root, int index);

// Where pw-dump's JSON comes from: a fixture tree's pw-dump.json (a root
// other than "/"), the running PipeWire server (its socket
// RUNTIME_DIR/pipewire-0 is there, RUNTIME_DIR being PIPEWIRE_RUNTIME_DIR,
// else XDG_RUNTIME_DIR; or PIPEWIRE_REMOTE names one), or nowhere: plain
// jackd and ALSA are never kept waiting on pw-dump. The environment's values
// are handed in ("" for unset).
enum class identity_pipewire_source { none, fixture, server };
identity_pipewire_source identity_pipewire_source_of(const std::string& root, const std::string& pipewire_runtime_dir,
                                                     const std::string& xdg_runtime_dir,
                                                     const std::string& pipewire_remote);

// pw-dump's JSON: under "/" the running PipeWire's (pw-dump, 5 s at most,
// run only where identity_pipewire_source_of finds a server; "" without one
// or on Windows), under another root its pw-dump.json.
std::string identity_pipewire_dump(const std::string& root);

// The identity: the system, and the card the first of names points at (a
// device's name, then JACK's port aliases: "hw:N" in it); where none does,
// the card behind the PipeWire node one names (identity_pipewire_dump).
identity identity_read(const std::string& root, const std::vector<std::string>& names);
