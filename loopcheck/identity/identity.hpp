// The interface's identity: the machine, its system, and the hardware behind
// the device's name where the system tells it (on Linux the ALSA card's id,
// names and driver, and for USB the vendor and product IDs, serial and
// release, bcdDevice, the firmware; for PCI its IDs and slot), read from
// sysfs and procfs under a root (LOOPCHECK_SYSFS, a folder that stands for
// "/", for the tests' fixture trees). Parsing is pure; reading touches files
// under the root only. Nothing here sees PortAudio or JACK: their versions
// and the JACK ports' aliases are handed in.
#pragma once
#include <cstdint>
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

// A Windows driver behind the device, where the host API names one (ASIO's
// driver: its registry key, COM class, DLL and the DLL's version resource).
struct identity_driver {
    std::string api;               // "ASIO"
    std::string name;              // as PortAudio names the device: the driver's name, "WineASIO Driver"
    std::string clsid;             // "{48D0C522-BFCC-45CC-8B84-17F25F33E6E8}"
    std::string path;              // the DLL: HKCR\CLSID\{...}\InprocServer32
    std::string version;           // the version resource's fixed file version, "1.3.0.0", else its FileVersion text
    std::string product, company;  // ProductName, CompanyName
    std::string reason;            // what could not be read ("no version resource"), "" when all was
};

struct identity {
    std::string time;  // when it was read, the run's end: ISO 8601 in UTC, "2026-12-10T09:00:00Z"
    identity_system system;
    std::optional<identity_card> card;
    std::string card_from;                  // the name the card was found through ("hw:1" in it), "" when none
    std::optional<identity_driver> driver;  // Windows only
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

// ---- Windows drivers, pure (identity_driver.cpp) ------------------------------------

// UTF-16 (the registry's and the version resource's text) as UTF-8, to its
// first NUL (registry strings may carry theirs); a lone surrogate as U+FFFD.
std::string identity_utf8(const std::u16string& text);

// A COM class id as the registry's keys spell it, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
// in capitals, from a value with or without its braces and blanks around; "" when it is none.
std::string identity_clsid(const std::string& text);

// HKLM\SOFTWARE\ASIO's subkeys: the key's name and its Description value
// ("" when it has none). ASIO's driver list names a driver by its
// Description, else by its key, and PortAudio's device is that name.
struct identity_asio_key {
    std::string key, description;
};
// The key (its name) whose driver a device's name names: the Description
// exactly, else the name of a key without one, else, for a name that the
// driver list cut (a name of 32 characters or more is given as its first 28
// and "..."), the one whose name begins so; "" when none, or when more than
// one key fits.
std::string identity_asio_key_of(const std::string& name, const std::vector<identity_asio_key>& keys);

// VS_FIXEDFILEINFO's dwFileVersionMS and LS as "A.B.C.D".
std::string identity_file_version(uint32_t ms, uint32_t ls);

// The version resource's string tables to look in, "\StringFileInfo\040904b0\":
// those its \VarFileInfo\Translation pairs (language, code page) name, in
// their order, then US English in Unicode and in Windows-1252, and the neutral
// language, each once.
std::vector<std::string> identity_string_tables(const std::vector<uint16_t>& translation);

// ASIO's driver behind a device's name, read from the registry and the DLL's
// version resource (identity_windows.cpp); nothing outside Windows.
std::optional<identity_driver> identity_read_asio_driver(const std::string& name);

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
