// The interface's identity: the card a device's name points at, procfs's
// card list and os-release parsed, and the whole identity read from the
// fixture trees of tests/data/identity/ (a USB interface behind a PCI USB
// controller, a PCI card, a machine with neither and a link that leaves the
// tree), each field exactly as the tree holds it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "loopcheck/identity/identity.hpp"

namespace {

const std::string trees = LOOPCABLE_SOURCE_DIR "/tests/data/identity/";

const char* const cards =
    " 0 [PCH            ]: HDA-Intel - HDA Intel PCH\n"
    "                      HDA Intel PCH at 0xa1230000 irq 140\n"
    " 1 [CODEC          ]: USB-Audio - USB Audio CODEC\n"
    "                      Burr-Brown from TI USB Audio CODEC at usb-0000:00:14.0-2, full speed\n"
    "10 [Loopback       ]: Loopback - Loopback\n"
    "                      Loopback 1\n"
    "11 [Short          ]: Dummy - Dummy\n";

}  // namespace

TEST(LoopcheckIdentity, TheCardANameNames)
{
    const struct {
        const char* name;
        int card;
    } rows[] = {
        {"USB Audio CODEC: USB Audio (hw:1,0)", 1},     // PortAudio's ALSA device
        {"HDA Intel PCH: ALC3246 Analog (hw:0,0)", 0},  //
        {"alsa_pcm:hw:2:in1", 2},                       // JACK's system port alias
        {"plughw:3,0", 3},                              //
        {"Scarlett (hw:12,0)", 12},                     // two digits
        {"hw:4", 4},                                    // the whole name
        {"hw:CARD=CODEC,DEV=0", -1},                    // by id, not number
        {"shw:1,0", -1},                                // another word that ends in hw
        {"hw:1x", -1},                                  // not a number that ends
        {"hw:", -1},                                    //
        {"system", -1},                                 // JACK's device
        {"pulse", -1},                                  //
        {"Foo (hw:123,0)", -1},                         // no card 123 in ALSA
        {"a plughw:x then hw:5,0", 5},                  // the first that is one
    };
    for (const auto& r : rows)
        EXPECT_EQ(identity_card_in_name(r.name), r.card) << r.name;
}

TEST(LoopcheckIdentity, ProcsCardListAndOsRelease)
{
    const struct {
        int index;
        bool found;
        const char *id, *driver, *name, *long_name;
    } rows[] = {
        {0, true, "PCH", "HDA-Intel", "HDA Intel PCH", "HDA Intel PCH at 0xa1230000 irq 140"},
        {1, true, "CODEC", "USB-Audio", "USB Audio CODEC",
         "Burr-Brown from TI USB Audio CODEC at usb-0000:00:14.0-2, full speed"},
        {10, true, "Loopback", "Loopback", "Loopback", "Loopback 1"},
        {11, true, "Short", "Dummy", "Dummy", ""},  // the last line without its long name
        {2, false, "", "", "", ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.index);
        identity_card c;
        ASSERT_EQ(identity_cards_entry(cards, r.index, c), r.found);
        EXPECT_EQ(c.id, r.id);
        EXPECT_EQ(c.driver, r.driver);
        EXPECT_EQ(c.name, r.name);
        EXPECT_EQ(c.long_name, r.long_name);
    }
    const struct {
        const char *text, *os;
    } releases[] = {
        {"NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 13 (trixie)\"\n", "Debian GNU/Linux 13 (trixie)"},
        {"NAME='Fedora Linux'\nVERSION='41 (Workstation Edition)'\n", "Fedora Linux 41 (Workstation Edition)"},
        {"# PRETTY_NAME=\"commented\"\nNAME=Arch\n", "Arch"},
        {"PRETTY_NAME=\"a\"b\"\n", "a\"b"},
        {"", ""},
    };
    for (const auto& r : releases)
        EXPECT_EQ(identity_os_release(r.text), r.os) << r.text;
}

// Each tree read as loopcheck reads the machine, every field exactly.
TEST(LoopcheckIdentity, FixtureTreesReadExactly)
{
    struct expected {
        const char *tree, *name;
        const char *hostname, *os, *kernel, *dmi_vendor, *dmi_product;
        bool card;
        const char *id, *driver, *long_name, *module;
        const char* usb;  // "vendor product serial release", "" when none
        const char* pci;  // "slot vendor device subvendor subdevice revision", "" when none
        const char* key;
    };
    const expected rows[] = {
        {"usb", "USB Audio CODEC: USB Audio (hw:1,0)", "bench-usb", "Debian GNU/Linux 13 (trixie)",
         "Linux 6.12.48+deb13-amd64", "Dell Inc.", "OptiPlex 7080", true, "CODEC", "USB-Audio",
         "Burr-Brown from TI USB Audio CODEC at usb-0000:00:14.0-2, full speed", "snd-usb-audio",
         "08bb 2902 A1B2C3D4 0100", "", "usb:08bb:2902:A1B2C3D4"},
        // The PCI card 0 of the same machine: in procfs, not in its sysfs tree.
        {"usb", "alsa_pcm:hw:0:in1", "bench-usb", "Debian GNU/Linux 13 (trixie)", "Linux 6.12.48+deb13-amd64",
         "Dell Inc.", "OptiPlex 7080", true, "PCH", "HDA-Intel", "HDA Intel PCH at 0xa1230000 irq 140", "", "", "",
         "alsa:PCH:HDA Intel PCH at 0xa1230000 irq 140"},
        {"pci", "HDA Intel PCH: ALC3246 Analog (hw:0,0)", "bench-pci", "Debian GNU/Linux 12 (bookworm)",
         "Linux 6.1.0-28-amd64", "", "", true, "PCH", "HDA-Intel", "HDA Intel PCH at 0xa1230000 irq 140",
         "snd_hda_intel", "", "0000:00:1f.3 0x8086 0xa348 0x1028 0x0869 0x10",
         "pci:0x8086:0xa348:0x1028:0x0869@0000:00:1f.3"},
        {"bare", "system", "bench-bare", "Ubuntu 24.04.1 LTS", "Linux 6.6.0", "", "", false, "", "", "", "", "", "",
         "system on JACK"},
        // Card 2 in sysfs alone, its link absolute: not followed out of the tree.
        {"bare", "Loopback PCM (hw:2,0)", "bench-bare", "Ubuntu 24.04.1 LTS", "Linux 6.6.0", "", "", true, "Loopback",
         "", "", "", "", "", "alsa:Loopback:"},
        {"bare", "(hw:7,0)", "bench-bare", "Ubuntu 24.04.1 LTS", "Linux 6.6.0", "", "", false, "", "", "", "", "", "",
         "(hw:7,0) on JACK"},
    };
    for (const expected& r : rows) {
        SCOPED_TRACE(std::string(r.tree) + ": " + r.name);
        const identity id = identity_read(trees + r.tree, {r.name});
        EXPECT_EQ(id.system.hostname, r.hostname);
        EXPECT_EQ(id.system.os, r.os);
        EXPECT_EQ(id.system.kernel, r.kernel);
        EXPECT_EQ(id.system.dmi_vendor, r.dmi_vendor);
        EXPECT_EQ(id.system.dmi_product, r.dmi_product);
        EXPECT_EQ(identity_key(id, std::string(r.name) + " on JACK"), r.key);
        ASSERT_EQ(id.card.has_value(), r.card);
        if (!r.card)
            continue;
        const identity_card& c = *id.card;
        EXPECT_EQ(c.id, r.id);
        EXPECT_EQ(c.driver, r.driver);
        EXPECT_EQ(c.long_name, r.long_name);
        EXPECT_EQ(c.module, r.module);
        EXPECT_EQ(c.usb ? c.usb->vendor_id + " " + c.usb->product_id + " " + c.usb->serial + " " + c.usb->release : "",
                  r.usb);
        if (c.usb) {
            EXPECT_EQ(c.usb->manufacturer, "Burr-Brown from TI");
            EXPECT_EQ(c.usb->product, "USB Audio CODEC");
        }
        EXPECT_EQ(c.pci ? c.pci->slot + " " + c.pci->vendor_id + " " + c.pci->device_id + " " +
                              c.pci->subsystem_vendor_id + " " + c.pci->subsystem_device_id + " " + c.pci->revision
                        : "",
                  r.pci);
    }
    // A root that does not exist: nothing, and no throw.
    const identity none = identity_read(trees + "no-such-tree", {"(hw:1,0)"});
    EXPECT_EQ(none.system.hostname, "");
    EXPECT_FALSE(none.card);
}

// PipeWire's nodes, from pw-dump's JSON (the usb tree's pw-dump.json, and
// variants of a node): the node a device's or a JACK port's name names, by
// its node.name, node.description or node.nick, whole or before ':'; the card
// its alsa.card (a number or a string) names, else its device's
// api.alsa.card; none for a node that is not ALSA's, a device that is not
// there, a number out of ALSA's range, or text that is not JSON.
TEST(LoopcheckIdentity, PipewireNodesNameTheirCard)
{
    std::ifstream in(trees + "usb/pw-dump.json");
    const std::string dump{std::istreambuf_iterator<char>(in), {}};
    ASSERT_FALSE(dump.empty());
    const std::string input = "alsa_input.usb-Burr-Brown_from_TI_USB_Audio_CODEC-00.analog-stereo";
    const std::string output = "alsa_output.usb-Burr-Brown_from_TI_USB_Audio_CODEC-00.analog-stereo";
    const auto node = [](const std::string& props) {
        return "[{\"id\": 7, \"type\": \"PipeWire:Interface:Node\", \"info\": {\"props\": {\"node.name\": \"n\"" +
               props +
               "}}}, {\"id\": 9, \"type\": \"PipeWire:Interface:Device\", \"info\": {\"props\": "
               "{\"api.alsa.card\": 4}}}]";
    };
    const struct {
        const char* what;
        std::string dump;
        std::vector<std::string> names;
        int card;
        std::string node;
    } rows[] = {
        {"its node.name", dump, {input}, 1, input},
        {"a JACK port of its description", dump, {"USB Audio CODEC Analog Stereo:capture_FL"}, 1, input},
        {"a JACK port of its nick", dump, {"USB Audio CODEC:capture_FL"}, 1, input},
        {"its device's card (no alsa.card of its own)",
         dump,
         {"USB Audio CODEC Analog Stereo Output:playback_FL"},
         1,
         output},
        {"the first name that names one", dump, {"system", "Headphones", output}, 1, output},
        {"a longer name is not its port", dump, {"USB Audio CODEC Analog Stereos"}, -1, ""},
        {"a Bluetooth node", dump, {"Headphones:playback_FL"}, -1, ""},
        {"the dummy driver", dump, {"Dummy-Driver"}, -1, ""},
        {"no name", dump, {""}, -1, ""},
        {"alsa.card as a string", node(", \"alsa.card\": \"3\""), {"n"}, 3, "n"},
        {"api.alsa.card on the node", node(", \"api.alsa.card\": 5"), {"n"}, 5, "n"},
        {"its device by device.id", node(", \"device.id\": 9"), {"n"}, 4, "n"},
        {"a device.id with no device", node(", \"device.id\": 8"), {"n"}, -1, ""},
        {"a card beyond ALSA's", node(", \"alsa.card\": 100"), {"n"}, -1, ""},
        {"a negative card", node(", \"alsa.card\": -1"), {"n"}, -1, ""},
        {"a card that is no number", node(", \"alsa.card\": \"1x\""), {"n"}, -1, ""},
        {"not JSON", "pw-dump: can't connect", {input}, -1, ""},
        {"cut short", dump.substr(0, dump.size() / 2), {input}, -1, ""},
        {"no dump", "", {input}, -1, ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        const identity_pipewire_card found = identity_pipewire_card_of(r.dump, r.names);
        EXPECT_EQ(found.card, r.card);
        EXPECT_EQ(found.node, r.node);
    }
}

// On PipeWire the names hold no "hw:N": the card of the node they name, read
// from sysfs as for hw:N (the usb tree's card 1, exactly), found through the node.
TEST(LoopcheckIdentity, PipewireCardReadLikeHwN)
{
    const identity id = identity_read(trees + "usb", {"USB Audio CODEC Analog Stereo:capture_FL"});
    ASSERT_TRUE(id.card);
    EXPECT_EQ(id.card->index, 1);
    EXPECT_EQ(id.card->id, "CODEC");
    EXPECT_EQ(id.card->module, "snd-usb-audio");
    ASSERT_TRUE(id.card->usb);
    EXPECT_EQ(id.card->usb->vendor_id + " " + id.card->usb->product_id + " " + id.card->usb->serial + " " +
                  id.card->usb->release,
              "08bb 2902 A1B2C3D4 0100");
    EXPECT_EQ(id.card_from, "pipewire:alsa_input.usb-Burr-Brown_from_TI_USB_Audio_CODEC-00.analog-stereo");
    EXPECT_EQ(identity_key(id, "x"), "usb:08bb:2902:A1B2C3D4");
    // "hw:N" in a name comes first; a node that is not ALSA's, or a tree with no pw-dump.json, gives none.
    EXPECT_EQ(identity_read(trees + "usb", {"USB Audio CODEC:capture_FL", "alsa_pcm:hw:0:in1"}).card->id, "PCH");
    EXPECT_FALSE(identity_read(trees + "usb", {"Headphones:playback_FL"}).card);
    EXPECT_FALSE(identity_read(trees + "pci", {"USB Audio CODEC Analog Stereo:capture_FL"}).card);
}

// Whether pw-dump is asked: only where a PipeWire server's socket is (the
// runtime folder's pipewire-0, PIPEWIRE_RUNTIME_DIR before XDG_RUNTIME_DIR)
// or PIPEWIRE_REMOTE names one; a fixture tree answers from its pw-dump.json
// whatever the environment says; plain jackd or ALSA (no socket) never waits on it.
TEST(LoopcheckIdentity, PipewireAskedOnlyWhereItRuns)
{
    namespace fs = std::filesystem;
    const fs::path run = fs::path(testing::TempDir()) / ("identity_run_" + std::to_string(::getpid()));
    fs::create_directories(run / "with");
    fs::create_directories(run / "without");
    std::ofstream(run / "with" / "pipewire-0") << "";
    // A name that only begins like the socket is not it.
    std::ofstream(run / "without" / "pipewire-0-manager") << "";
    const std::string with = (run / "with").string(), without = (run / "without").string();
    using s = identity_pipewire_source;
    const struct {
        const char* what;
        std::string root, pipewire_runtime_dir, xdg_runtime_dir, remote;
        s source;
    } rows[] = {
        {"the socket in XDG_RUNTIME_DIR", "/", "", with, "", s::server},
        {"no socket there (plain jackd, ALSA)", "/", "", without, "", s::none},
        {"no runtime folder at all", "/", "", "", "", s::none},
        {"a folder that is not there", "/", "", with + "/nowhere", "", s::none},
        {"PIPEWIRE_RUNTIME_DIR before XDG_RUNTIME_DIR", "/", with, without, "", s::server},
        {"PIPEWIRE_RUNTIME_DIR without the socket", "/", without, with, "", s::none},
        {"PIPEWIRE_REMOTE names a server", "/", "", without, "pipewire-1", s::server},
        {"a fixture tree with pw-dump.json", trees + "usb", "", with, "", s::fixture},
        {"a fixture tree without, a server running", trees + "pci", "", with, "pipewire-0", s::none},
        {"a tree that is not there", trees + "no-such-tree", "", with, "", s::none},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(identity_pipewire_source_of(r.root, r.pipewire_runtime_dir, r.xdg_runtime_dir, r.remote), r.source);
    }
    fs::remove_all(run);
}
