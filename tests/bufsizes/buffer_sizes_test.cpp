// Buffer-size queries: every failure leaves 0s behind, ALSA names and ranges.
#include <gtest/gtest.h>

#include <alsa/asoundlib.h>

#include "bufsizes/buffer_sizes.hpp"

namespace {

// Keeps ALSA's messages about the missing PCMs below out of the test log.
void alsa_quiet(const char*, int, const char*, int, const char*, ...) {}

class BufferSizes : public ::testing::Test {
protected:
    void SetUp() override { snd_lib_error_set_handler(alsa_quiet); }
    void TearDown() override { snd_lib_error_set_handler(nullptr); }
};

TEST_F(BufferSizes, FailedQueriesClearAllFourValues)
{
    // Left over from an earlier device: none of it may survive a failure.
    long min = 64, max = 2048, preferred = 256, granularity = -1;
    // PortAudio is not initialised here, so no device exists.
    EXPECT_FALSE(buffer_size_range(paALSA, 0, min, max, preferred, granularity));
    EXPECT_EQ(min, 0);
    EXPECT_EQ(max, 0);
    EXPECT_EQ(preferred, 0);
    EXPECT_EQ(granularity, 0);

    min = 64, max = 2048, preferred = 256, granularity = -1;
    EXPECT_FALSE(buffer_size_range(paCoreAudio, 3, min, max, preferred, granularity));
    EXPECT_EQ(min, 0);
    EXPECT_EQ(max, 0);
    EXPECT_EQ(preferred, 0);
    EXPECT_EQ(granularity, 0);

    min = 64, max = 2048;
    EXPECT_FALSE(alsa_period_range("no_such_pcm_for_this_test", min, max));
    EXPECT_EQ(min, 0);
    EXPECT_EQ(max, 0);
}

TEST_F(BufferSizes, AlsaNamesUseTheHardwareAddressWhenPresent)
{
    EXPECT_EQ(alsa_pcm_name("HDA Intel PCH: ALC892 Analog (hw:0,0)"), "hw:0,0");
    EXPECT_EQ(alsa_pcm_name("USB Audio CODEC: USB Audio (hw:2,0)"), "hw:2,0");
    EXPECT_EQ(alsa_pcm_name("Loopback: Loopback PCM (hw:10,1)"), "hw:10,1");
    // A card name with parentheses of its own: the last hardware address counts.
    EXPECT_EQ(alsa_pcm_name("Card (rev 2): Out (hw:1,3)"), "hw:1,3");
    EXPECT_EQ(alsa_pcm_name("default"), "default");
    EXPECT_EQ(alsa_pcm_name("pulse"), "pulse");
    EXPECT_EQ(alsa_pcm_name("sysdefault"), "sysdefault");
    EXPECT_EQ(alsa_pcm_name("broken (hw:1,0"), "broken (hw:1,0");
}

TEST_F(BufferSizes, AlsaNullDeviceGivesAnOrderedRange)
{
    // The "null" PCM of the standard ALSA configuration needs no sound card.
    long min = -5, max = -5;
    ASSERT_TRUE(alsa_period_range("null", min, max));
    EXPECT_GE(min, 1);
    EXPECT_GE(max, min);
}

}  // namespace
