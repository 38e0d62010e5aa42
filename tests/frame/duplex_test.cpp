// The pairing of one-way devices into a full-duplex stream (WMME, DirectSound,
// WASAPI list every input and every output as a device of its own).
#include <gtest/gtest.h>

#include "frame/device.hpp"

namespace {

TEST(DuplexPair, OneWayDevicesTakeTheDefaultOfTheOtherDirection)
{
    // Device 5, the host API's default input 1 and default output 3.
    struct pairing {
        int inputs, outputs;
        PaDeviceIndex input, output;
    };
    const pairing cases[] = {
        {2, 2, 5, 5},  // ASIO, JACK, ALSA: one device both ways
        {1, 8, 5, 5},  // both ways, too few inputs: the opening refuses it, not the pairing
        {0, 2, 1, 5},  // output only: the default input records
        {2, 0, 5, 3},  // input only: the default output plays
        {0, 0, 5, 5},  // neither: left for the opening to refuse
    };
    for (const pairing& c : cases) {
        const duplex_devices pair = duplex_pair(5, c.inputs, c.outputs, 1, 3);
        EXPECT_EQ(pair.input, c.input) << c.inputs << " in, " << c.outputs << " out";
        EXPECT_EQ(pair.output, c.output) << c.inputs << " in, " << c.outputs << " out";
    }
    // A host API without a default of the other direction gives no pair.
    EXPECT_EQ(duplex_pair(5, 0, 2, paNoDevice, 3).input, paNoDevice);
    EXPECT_EQ(duplex_pair(5, 2, 0, 1, paNoDevice).output, paNoDevice);
}

TEST(DuplexChoose, NoPortAudioMeansNoDevices)
{
    // PortAudio is not initialised here: no option and every option name nothing.
    for (const int64_t option : {int64_t{-1}, int64_t{0}, int64_t{7}}) {
        const duplex_devices pair = duplex_choose(option);
        EXPECT_EQ(pair.input, paNoDevice) << option;
        EXPECT_EQ(pair.output, paNoDevice) << option;
    }
}

}  // namespace
