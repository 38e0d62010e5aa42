// The ALSA card a device name shows: two devices of one card share its clock.
#include <gtest/gtest.h>

#include "loopcheck/io/devices.hpp"

TEST(LoopcheckDevices, AlsaCardFromTheName)
{
    struct name_card {
        const char* name;
        int card;
    };
    for (const name_card c :
         {name_card{"USB Audio CODEC: USB Audio (hw:1,0)", 1}, name_card{"HDA Intel PCH: ALC892 Analog (hw:0,0)", 0},
          name_card{"Scarlett 2i2 (hw:12,1)", 12}, name_card{"default", -1}, name_card{"pipewire", -1},
          name_card{"odd (hw:x,0)", -1}, name_card{"cut (hw:", -1}})
        EXPECT_EQ(devices_alsa_card(c.name), c.card) << c.name;
}
