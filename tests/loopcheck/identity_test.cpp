// The interface's identity: the card a device's name points at, procfs's
// card list and os-release parsed, and the whole identity read from the
// fixture trees of tests/data/identity/ (a USB interface behind a PCI USB
// controller, a PCI card, a machine with neither and a link that leaves the
// tree), each field exactly as the tree holds it.
#include <gtest/gtest.h>

#include <string>

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
