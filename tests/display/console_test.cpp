// The text cursor of con_print: opaque cells, line ends and scrolling.
#include <gtest/gtest.h>

#include "display/display.hpp"
#include "display/hooks.hpp"

namespace {

// True when the 8x8 cell at text column col, row row shows code opaquely.
bool cell_shows(int64_t col, int64_t row, uint8_t code)
{
    const auto& glyph = font_glyph(code);
    for (int r = 0; r < 8; r++)
        for (int c = 0; c < 8; c++)
            if (gfx_pixel(col * 8 + c, row * 8 + r) != ((glyph[r] & (0x80 >> c)) ? 15 : 0))
                return false;
    return true;
}

class Console : public ::testing::Test {
protected:
    void SetUp() override { gfx_open_memory(80, 32); }  // 10 columns, 4 rows
    void TearDown() override { gfx_close(); }
};

TEST_F(Console, PrintsOpaqueCellsFromTheTopLeft)
{
    gfx_fill_box(0, 0, 79, 31, 4);
    con_print("Hi");
    EXPECT_TRUE(cell_shows(0, 0, 'H'));
    EXPECT_TRUE(cell_shows(1, 0, 'i'));
    EXPECT_EQ(gfx_pixel(16, 0), 4);  // beyond the text, untouched
}

TEST_F(Console, LineEndsMoveToTheNextRowUnlessAskedToStay)
{
    con_print("ab", true);
    con_print("c");
    con_print("");
    con_print("d");
    EXPECT_TRUE(cell_shows(2, 0, 'c'));
    EXPECT_TRUE(cell_shows(0, 2, 'd'));  // the empty text left row 1 empty
    EXPECT_TRUE(cell_shows(0, 1, ' '));
}

TEST_F(Console, PassingTheLastRowScrollsTheGridUpOneRow)
{
    for (const char* line : {"1", "2", "3", "4", "5"})
        con_print(line);
    // Five lines in four rows: "1" and "2" scrolled away, the cursor sits on the blank last row.
    EXPECT_TRUE(cell_shows(0, 0, '3'));
    EXPECT_TRUE(cell_shows(0, 1, '4'));
    EXPECT_TRUE(cell_shows(0, 2, '5'));
    EXPECT_TRUE(cell_shows(0, 3, ' '));
    con_print("6", true);
    EXPECT_TRUE(cell_shows(0, 3, '6'));
}

TEST_F(Console, LongTextWrapsAtTheRightEdge)
{
    con_print("0123456789AB");
    EXPECT_TRUE(cell_shows(9, 0, '9'));
    EXPECT_TRUE(cell_shows(0, 1, 'A'));
    EXPECT_TRUE(cell_shows(1, 1, 'B'));
}

TEST(ConsoleWithoutWindow, WritesToStandardOutput)
{
    gfx_close();
    testing::internal::CaptureStdout();
    con_print("abc", true);
    con_print("def");
    con_print("");
    con_print("Caf\x82 \xC4\xDB");  // the font's own characters, as the terminal shows them
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "abcdef\n\nCaf\xC3\xA9 \xE2\x94\x80\xE2\x96\x88\n");
}

}  // namespace
