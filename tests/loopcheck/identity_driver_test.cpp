// A Windows driver's identity, its pure part: the registry's and the version
// resource's UTF-16 text, class ids as the registry spells them, which key
// under HKLM\SOFTWARE\ASIO a device's name names (as ASIO's driver list
// names drivers: description, else key, a long name cut to 28 characters and
// "..."), the file version's numbers and the string tables to look in. The
// truth is Windows's formats, written out by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loopcheck/identity/identity.hpp"

TEST(LoopcheckIdentityDriver, Utf16AsUtf8)
{
    const struct {
        const char* what;
        std::u16string in;
        std::string out;
    } rows[] = {
        {"ASCII", u"WineASIO Driver", "WineASIO Driver"},
        {"to its first NUL", std::u16string(u"wineasio.dll\0\0junk", 19), "wineasio.dll"},
        {"two bytes", u"Fireface UFX \u00e9", "Fireface UFX \xc3\xa9"},
        {"three bytes", u"\u20ac", "\xe2\x82\xac"},
        {"a surrogate pair", u"\U0001F3B5", "\xf0\x9f\x8e\xb5"},
        {"a lone high surrogate", std::u16string{u'a', char16_t(0xd83c), u'b'},
         "a\xef\xbf\xbd"
         "b"},
        {"a lone low surrogate", std::u16string{char16_t(0xdf75)}, "\xef\xbf\xbd"},
        {"a high surrogate at the end", std::u16string{u'x', char16_t(0xd800)}, "x\xef\xbf\xbd"},
        {"empty", u"", ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(identity_utf8(r.in), r.out);
    }
}

TEST(LoopcheckIdentityDriver, ClassIds)
{
    const struct {
        const char* in;
        const char* out;
    } rows[] = {
        {"{48D0C522-BFCC-45CC-8B84-17F25F33E6E8}", "{48D0C522-BFCC-45CC-8B84-17F25F33E6E8}"},
        {"{48d0c522-bfcc-45cc-8b84-17f25f33e6e8}", "{48D0C522-BFCC-45CC-8B84-17F25F33E6E8}"},
        {"48d0c522-bfcc-45cc-8b84-17f25f33e6e8", "{48D0C522-BFCC-45CC-8B84-17F25F33E6E8}"},
        {"  {48D0C522-BFCC-45CC-8B84-17F25F33E6E8}\r\n", "{48D0C522-BFCC-45CC-8B84-17F25F33E6E8}"},
        {"{48D0C522-BFCC-45CC-8B84-17F25F33E6E}", ""},     // a digit short
        {"{48D0C522-BFCC-45CC-8B84-17F25F33E6E8", ""},     // no closing brace
        {"{48D0C522+BFCC-45CC-8B84-17F25F33E6E8}", ""},    // a dash misplaced
        {"{48D0C522-BFCC-45CC-8B84-17F25F33E6G8}", ""},    // not hexadecimal
        {"{{48D0C522-BFCC-45CC-8B84-17F25F33E6E8}}", ""},  // braces twice
        {"", ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.in);
        EXPECT_EQ(identity_clsid(r.in), r.out);
    }
}

TEST(LoopcheckIdentityDriver, TheKeyADeviceNames)
{
    const std::string long_name = "Focusrite USB ASIO Driver for Scarlett 18i20";  // 44 characters
    const std::vector<identity_asio_key> keys = {
        {"wineasio", "WineASIO Driver"},
        {"ASIO4ALL v2", ""},
        {"Focusrite USB ASIO", long_name},
        {"Old", "ASIO4ALL v2"},  // a description that is another key's name
    };
    const struct {
        const char* what;
        std::string name;
        std::vector<identity_asio_key> keys;
        std::string key;
    } rows[] = {
        {"its description", "WineASIO Driver", keys, "wineasio"},
        {"a key without a description, by its name", "ASIO4ALL v2", {keys[0], keys[1]}, "ASIO4ALL v2"},
        {"a description before a key's name", "ASIO4ALL v2", keys, "Old"},
        {"a key's name is not the name when it has a description", "wineasio", keys, ""},
        {"a long name, cut by the driver list", long_name.substr(0, 28) + "...", keys, "Focusrite USB ASIO"},
        {"the whole long name", long_name, keys, "Focusrite USB ASIO"},
        {"a cut name that two fit", long_name.substr(0, 28) + "...", {keys[2], {"Other", long_name + " 2"}}, ""},
        {"cut, but not at 28", long_name.substr(0, 27) + "...", keys, ""},
        {"a name of 31 that is a prefix, not cut", long_name.substr(0, 31), keys, ""},
        {"a name that differs in case", "wineasio driver", keys, ""},
        {"two keys with one description", "WineASIO Driver", {keys[0], {"copy", "WineASIO Driver"}}, ""},
        {"no name", "", keys, ""},
        {"no keys", "WineASIO Driver", {}, ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(identity_asio_key_of(r.name, r.keys), r.key);
    }
}

TEST(LoopcheckIdentityDriver, VersionNumbersAndStringTables)
{
    EXPECT_EQ(identity_file_version(0x00010003, 0x00000000), "1.3.0.0");
    EXPECT_EQ(identity_file_version(0xffffffff, 0x0007000b), "65535.65535.7.11");
    EXPECT_EQ(identity_file_version(0, 0), "0.0.0.0");
    const struct {
        const char* what;
        std::vector<uint16_t> translation;
        std::vector<std::string> tables;
    } rows[] = {
        {"none: the usual three",
         {},
         {"\\StringFileInfo\\040904b0\\", "\\StringFileInfo\\040904e4\\", "\\StringFileInfo\\000004b0\\"}},
        {"German in Windows-1252 first",
         {0x0407, 0x04e4},
         {"\\StringFileInfo\\040704e4\\", "\\StringFileInfo\\040904b0\\", "\\StringFileInfo\\040904e4\\",
          "\\StringFileInfo\\000004b0\\"}},
        {"one of the usual, listed once",
         {0x0409, 0x04b0, 0x0411, 0x03a4},
         {"\\StringFileInfo\\040904b0\\", "\\StringFileInfo\\041103a4\\", "\\StringFileInfo\\040904e4\\",
          "\\StringFileInfo\\000004b0\\"}},
        {"an odd word left over is no pair",
         {0x0407},
         {"\\StringFileInfo\\040904b0\\", "\\StringFileInfo\\040904e4\\", "\\StringFileInfo\\000004b0\\"}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(identity_string_tables(r.translation), r.tables);
    }
    // Outside Windows there is no ASIO driver to read.
#ifndef _WIN32
    EXPECT_FALSE(identity_read_asio_driver("WineASIO Driver"));
#endif
}
