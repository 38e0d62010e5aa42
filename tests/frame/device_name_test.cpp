// Device names in the window font's character set, always within 512 bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "frame/device.hpp"

namespace {

std::string converted(const std::string& utf8)
{
    char buffer[512];
    std::memset(buffer, 'x', sizeof buffer);
    device_name_convert(utf8.c_str(), buffer);
    EXPECT_NE(std::memchr(buffer, 0, sizeof buffer), nullptr);
    return buffer;
}

TEST(DeviceName, AsciiNamesPassUnchanged)
{
    EXPECT_EQ(converted("system"), "system");
    EXPECT_EQ(converted("HDA Intel PCH: ALC892 Analog (hw:0,0)"), "HDA Intel PCH: ALC892 Analog (hw:0,0)");
}

TEST(DeviceName, AccentedAndNonLatinNamesUseCodePage437)
{
    EXPECT_EQ(converted("R\xC3\xB6hre Ausgang"), "R\x94hre Ausgang");    // ö 148
    EXPECT_EQ(converted("\xC3\x89tude \xC3\xA0 2"), "\x90tude \x85 2");  // É 144, à 133
    EXPECT_EQ(converted("\xD0\x97\xD0\xB2\xD1\x83\xD0\xBA"), "????");    // Cyrillic
    EXPECT_EQ(converted("\xE9\x9F\xB3\xE9\x9F\xBF USB"), "?? USB");      // CJK
}

TEST(DeviceName, LongNamesAreCutAndTerminated)
{
    EXPECT_EQ(converted(std::string(600, 'a')), std::string(511, 'a'));
    // 300 two-byte characters become 300 bytes: nothing is cut.
    std::string accented;
    for (int i = 0; i < 300; i++)
        accented += "\xC3\xA9";
    EXPECT_EQ(converted(accented), std::string(300, '\x82'));
    // 600 of them: cut to 511 whole characters.
    accented += accented;
    EXPECT_EQ(converted(accented), std::string(511, '\x82'));
}

TEST(DeviceName, MissingNamesGiveAnEmptyText)
{
    char buffer[512];
    std::memset(buffer, 'x', sizeof buffer);
    device_name_convert(nullptr, buffer);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[511], '\0');
}

}  // namespace
