// The device table's text: header, rule, closing line and row columns.
#include <gtest/gtest.h>

#include <string>

#include "bufsizes/listing.hpp"

namespace {

std::string blanks(size_t count) { return std::string(count, ' '); }

TEST(ListingText, HeaderRuleAndClosingLine)
{
    EXPECT_EQ(listing_title, "PortAudio" + blanks(48) + "buffer size");
    EXPECT_EQ(listing_title.size(), 68u);
    EXPECT_EQ(listing_columns, "device index" + blanks(2) + "name" + blanks(39) + "min/max");
    EXPECT_EQ(listing_columns.size(), 64u);
    EXPECT_EQ(listing_rule, std::string(68, '-'));
    EXPECT_EQ(listing_closing_line(), "hit any key to exit" + blanks(20) + "(C) 2026 Loopcable Test Suite");
    EXPECT_EQ(listing_closing_line().size(), listing_rule.size());
}

TEST(ListingRow, DevicesWithoutTwoChannelsEachWayAreMarked)
{
    struct channels {
        int in, out;
        const char* note;
    };
    const channels cases[] = {
        {2, 2, ""},
        {8, 32, ""},
        {0, 0, "  (needs 2 in, 2 out; has 0 in, 0 out)"},
        {1, 2, "  (needs 2 in, 2 out; has 1 in, 2 out)"},
        {2, 1, "  (needs 2 in, 2 out; has 2 in, 1 out)"},
    };
    for (const channels& c : cases)
        EXPECT_EQ(listing_channel_note(c.in, c.out), c.note) << c.in << " in, " << c.out << " out";
}

TEST(ListingRow, OneWayDevicesNameTheirPartner)
{
    EXPECT_EQ(listing_pair_note(3, 1, 3), "  (-d3: in 1, out 3)");
    EXPECT_EQ(listing_pair_note(12, 12, 0), "  (-d12: in 12, out 0)");
}

TEST(ListingRow, ExampleRow)
{
    const std::string name = "Loopback Interface 1";  // 20 bytes
    ASSERT_EQ(name.size(), 20u);
    EXPECT_EQ(listing_row(3, name, 64, 2048), " 3" + blanks(12) + name + blanks(23) + "64/2048");
}

TEST(ListingRow, IndexFieldIsTwoWideThenWholeBehindPercent)
{
    for (int64_t index : {0, 1, 5, 9})
        EXPECT_EQ(listing_row(index, "x", 8, 8), " " + std::to_string(index) + blanks(12) + "x" + blanks(42) + "8/8");
    for (int64_t index : {10, 42, 99})
        EXPECT_EQ(listing_row(index, "x", 8, 8), std::to_string(index) + blanks(12) + "x" + blanks(42) + "8/8");
    EXPECT_EQ(listing_row(100, "x", 8, 8), "%100" + blanks(12) + "x" + blanks(42) + "8/8");
    EXPECT_EQ(listing_row(12345, "x", 8, 8), "%12345" + blanks(12) + "x" + blanks(42) + "8/8");
}

TEST(ListingRow, ColumnsLineUpWithTheHeaderForShortNamesAndSmallIndices)
{
    const size_t name_column = listing_columns.find("name");
    const size_t sizes_column = listing_columns.find("min/max");
    ASSERT_EQ(name_column, 14u);
    ASSERT_EQ(sizes_column, 57u);
    ASSERT_EQ(listing_title.find("buffer size"), sizes_column);
    for (int64_t index : {0, 7, 10, 99})
        for (size_t length : {0u, 1u, 20u, 42u}) {
            const std::string name(length, 'n');
            const std::string row = listing_row(index, name, 256, 4096);
            EXPECT_EQ(row.substr(name_column, length), name);
            EXPECT_EQ(row.substr(sizes_column), "256/4096") << "index " << index << ", name of " << length;
        }
}

TEST(ListingRow, NamesOf43BytesOrMoreAreFollowedDirectlyByTheSizes)
{
    const std::string name43(43, 'a');
    const std::string name60(60, 'b');
    EXPECT_EQ(listing_row(4, name43, 32, 512), " 4" + blanks(12) + name43 + "32/512");
    EXPECT_EQ(listing_row(4, name60, 32, 512), " 4" + blanks(12) + name60 + "32/512");
    EXPECT_EQ(listing_row(4, "", 32, 512), " 4" + blanks(12) + blanks(43) + "32/512");
}

TEST(ListingRow, WideIndexShiftsTheRestOfTheRow)
{
    const std::string name(20, 'c');
    const std::string row = listing_row(100, name, 64, 64);
    EXPECT_EQ(row.find(name), 16u);
    EXPECT_EQ(row.find("64/64"), 59u);
}

TEST(ListingRow, SizesInPlainDigits)
{
    EXPECT_EQ(listing_row(0, "system", 0, 0), " 0" + blanks(12) + "system" + blanks(37) + "0/0");
    EXPECT_EQ(listing_row(1, "dev", 1, 1048576), " 1" + blanks(12) + "dev" + blanks(40) + "1/1048576");
}

}  // namespace
