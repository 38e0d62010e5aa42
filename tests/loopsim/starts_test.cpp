// loopsim's --start-delays: the list and range forms read or refused, each
// start's extra delay (the list in turn and again, the range's draws within
// it, the same for the same seed), and the line that delays by it.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tools/loopsim/starts.hpp"

TEST(LoopsimStarts, ReadsTheListAndTheRangeAndRefusesTheRest)
{
    struct row {
        const char* text;
        bool ok;
        std::vector<int64_t> first;  // starts 1, 2, ... of it
    };
    const row rows[] = {
        {"0,48,13", true, {0, 48, 13, 0, 48}},
        {"25", true, {25, 25, 25}},
        {"480000", true, {480000}},
        {"480001", false, {}},
        {"-1", false, {}},
        {"1,,2", false, {}},
        {"1.5", false, {}},
        {"", false, {}},
        {"nan", false, {}},
        {"10-60:7", true, {}},
        {"60-10:7", false, {}},
        {"10-60", false, {}},  // no colon: a list, and "10-60" is not a number
        {"10:7", false, {}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text);
        loopsim::starts s;
        const bool ok = loopsim::starts_parse(r.text, s);
        ASSERT_EQ(ok, r.ok);
        for (size_t n = 0; n < r.first.size(); n++)
            EXPECT_EQ(loopsim::starts_extra(s, static_cast<int64_t>(n) + 1), r.first[n]);
    }
}

TEST(LoopsimStarts, TheRangesDrawsStayWithinItAndRepeatForTheSeed)
{
    loopsim::starts a, b, c;
    ASSERT_TRUE(loopsim::starts_parse("10-60:7", a));
    ASSERT_TRUE(loopsim::starts_parse("10-60:7", b));
    ASSERT_TRUE(loopsim::starts_parse("10-60:8", c));
    std::set<int64_t> seen;
    bool differs = false;
    for (int64_t n = 1; n <= 200; n++) {
        const int64_t x = loopsim::starts_extra(a, n);
        EXPECT_GE(x, 10);
        EXPECT_LE(x, 60);
        EXPECT_EQ(x, loopsim::starts_extra(b, n));
        differs = differs || x != loopsim::starts_extra(c, n);
        seen.insert(x);
    }
    EXPECT_TRUE(differs);
    EXPECT_GT(seen.size(), 40u);  // 51 values, 200 draws
    EXPECT_EQ(loopsim::starts_most(a), 60);
}

TEST(LoopsimStarts, TheLineDelaysByTheExtraAndFollowsAChange)
{
    loopsim::start_line l = loopsim::start_line_make(48);
    std::vector<float> out;
    for (int i = 0; i < 100; i++)
        out.push_back(loopsim::start_line_step(l, static_cast<float>(i + 1), i < 50 ? 13 : 48));
    for (int i = 0; i < 100; i++) {
        const int extra = i < 50 ? 13 : 48;
        EXPECT_EQ(out[static_cast<size_t>(i)], i >= extra ? static_cast<float>(i - extra + 1) : 0.0f) << i;
    }
}
