// option_value over the command lines users type, and the buffer-size table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/command_line.hpp"
#include "frame/options.hpp"

namespace {

struct option_case {
    std::vector<std::string> args;  // after the program name
    const char* letter;
    int64_t expected;
};

int64_t value_for(const option_case& c)
{
    static test_command_line command_line;
    command_line.set("karvel", c.args);
    return option_value(c.letter);
}

TEST(OptionValue, FollowsTheCommandLineRules)
{
    const option_case cases[] = {
        {{}, "d", -1},
        {{"-d3"}, "d", 3},
        {{"-B128"}, "b", 128},           // lower-cased
        {{"/b128"}, "b", 128},           // either prefix
        {{"-b128", "-b256"}, "b", 256},  // the last match wins
        {{"-b"}, "b", 0},                // no number
        {{"-bx"}, "b", 0},               // unreadable number
        {{"-o"}, "o", 0},
        {{"-o-1"}, "o", 4294967295},  // unsigned 32 bits, not -1
        {{"-d-2"}, "d", 4294967294},
        {{"x-d5"}, "d", 0},      // matches, but reads "d5"
        {{"", "-d3"}, "d", -1},  // an empty argument ends the scan
        {{"-d3", "", "-d4"}, "d", 3},
        {{"-b&H10"}, "b", 16},
        {{"-b&h1f"}, "b", 31},
        {{"-b&B101"}, "b", 5},
        {{"-b&O17"}, "b", 15},
        {{"-b&17"}, "b", 15},   // a bare ampersand is octal
        {{"-b  64"}, "b", 64},  // leading blanks skipped
        {{"-b+32"}, "b", 32},
        {{"-b99999999999"}, "b", 4294967295},  // too large for 32 bits
        {{"-b4294967296"}, "b", 4294967295},
        {{"-b4294967295"}, "b", 4294967295},
        {{"-b12abc"}, "b", 12},
        {{"-h"}, "h", 0},
        {{"/?"}, "?", 0},
        {{"-help"}, "h", 0},
        {{"x-h"}, "h", 0},
        {{"-t"}, "t", 0},
        {{"-T1"}, "t", 1},
        {{"-d3"}, "b", -1},
        {{"-db"}, "b", -1},  // "-db" holds no "-b" or "/b"
        {{"a/b7"}, "b", 0},  // read from the third character: "b7"
    };
    for (const option_case& c : cases) {
        std::string line;
        for (const std::string& a : c.args)
            line += "[" + a + "]";
        EXPECT_EQ(value_for(c), c.expected) << "args " << line << " letter " << c.letter;
    }
}

TEST(BufferSize, AcceptedSizesGiveTheirTruncatedLatency)
{
    const struct {
        int64_t option;
        int64_t frames;
        double latency;
    } karvel[] = {{8, 8, 0.000166},     {16, 16, 0.000333},   {32, 32, 0.000666},        {64, 64, 0.001333},
                  {128, 128, 0.002666}, {256, 256, 0.005333}, {-1, 64, 0.001333},        {100, 64, 0.001333},
                  {0, 64, 0.001333},    {512, 64, 0.001333},  {4294967295, 64, 0.001333}};
    for (const auto& c : karvel) {
        buffer_setting s = buffer_size_lookup(c.option, 256);
        EXPECT_EQ(s.frames, c.frames) << c.option;
        EXPECT_EQ(s.latency, c.latency) << c.option;
    }
    EXPECT_EQ(buffer_size_lookup(512, 2048).latency, 0.010666);
    EXPECT_EQ(buffer_size_lookup(1024, 2048).latency, 0.021333);
    EXPECT_EQ(buffer_size_lookup(2048, 2048).latency, 0.042666);
    EXPECT_EQ(buffer_size_lookup(4096, 2048).frames, 64);
    EXPECT_EQ(buffer_size_lookup(4096, 2048).latency, 0.001333);
}

TEST(OptionReadNumber, ReadsLikeTheCommandLine)
{
    EXPECT_EQ(option_read_number(""), 0);
    EXPECT_EQ(option_read_number("-0"), 0);
    EXPECT_EQ(option_read_number("-1"), 4294967295);
    EXPECT_EQ(option_read_number("&Hffffffff"), 4294967295);
    EXPECT_EQ(option_read_number("&H1ffffffff"), 4294967295);
    EXPECT_EQ(option_read_number("&"), 0);
}

}  // namespace
