// Plot primitives: y counted from the bottom row, text placed by its bottom
// edge, and the footprints of the two bold routines.
#include <gtest/gtest.h>

#include "display/display.hpp"
#include "display/hooks.hpp"
#include "display/plot.hpp"

namespace {

class Plot : public ::testing::Test {
protected:
    static constexpr int64_t w = 64, h = 48;
    void SetUp() override { gfx_open_memory(w, h); }
    void TearDown() override { gfx_close(); }

    static int64_t count(uint8_t c)
    {
        int64_t n = 0;
        for (uint8_t p : gfx_pixels())
            n += p == c;
        return n;
    }
};

TEST_F(Plot, PointsCountRowsUpFromTheBottom)
{
    plot_point(0, 0, 9);
    EXPECT_EQ(gfx_pixel(0, h - 1), 9);
    plot_point(5, h - 1, 10);
    EXPECT_EQ(gfx_pixel(5, 0), 10);
    EXPECT_EQ(count(9) + count(10), 2);
}

TEST_F(Plot, LinesAndBoxesFlipBothEnds)
{
    plot_line(2, 3, 10, 3, 4);
    for (int x = 2; x <= 10; x++)
        EXPECT_EQ(gfx_pixel(x, h - 4), 4);
    plot_line_styled(0, 10, 0, 25, 6, 0xAAAAAAAAu);
    EXPECT_EQ(gfx_pixel(0, h - 11), 6);  // first end point drawn
    EXPECT_EQ(gfx_pixel(0, h - 12), 0);
    EXPECT_EQ(count(6), 8);
    plot_box(20, 5, 30, 15, 2);
    EXPECT_EQ(gfx_pixel(20, h - 6), 2);
    EXPECT_EQ(gfx_pixel(30, h - 16), 2);
    plot_fill_box(40, 0, 41, 1, 3);
    EXPECT_EQ(gfx_pixel(40, h - 1), 3);
    EXPECT_EQ(gfx_pixel(41, h - 2), 3);
    EXPECT_EQ(count(3), 4);
}

TEST_F(Plot, TextAtRowZeroSitsOnTheBottomRow)
{
    plot_text(0, 0, "\xDB", 7);
    for (int r = h - 8; r < h; r++)
        EXPECT_EQ(gfx_pixel(0, r), 7) << r;
    EXPECT_EQ(gfx_pixel(0, h - 9), 0);
    EXPECT_EQ(count(7), 64);
}

TEST_F(Plot, FillingTheWindowsOwnSizeClearsEverything)
{
    gfx_fill_box(0, 0, w - 1, h - 1, 12);
    plot_fill_box(0, 0, w, h, 0);
    EXPECT_EQ(count(0), w * h);
}

TEST_F(Plot, RepeatBoldPaintsABarWidenedLeftAndVertically)
{
    const int64_t x = 10, y = 20, n = 3;
    plot_text_repeat_bold(x, y, n, 5);
    // Columns x-1 .. x+8n-1, plot rows y-1 .. y+8.
    EXPECT_EQ(count(5), (8 * n + 1) * 10);
    EXPECT_EQ(gfx_pixel(x - 1, h - 1 - (y - 1)), 5);
    EXPECT_EQ(gfx_pixel(x + 8 * n - 1, h - 1 - (y + 8)), 5);
    EXPECT_EQ(gfx_pixel(x + 8 * n, h - 1 - y), 0);
    EXPECT_EQ(gfx_pixel(x - 2, h - 1 - y), 0);
    plot_text_repeat_bold(40, 5, 0, 6);
    EXPECT_EQ(count(6), 0);
}

TEST_F(Plot, BoldTextIsTheUnionOfNineOffsetDraws)
{
    plot_text_bold(20, 20, "\xDB", 5);
    EXPECT_EQ(count(5), 10 * 10);  // an 8x8 block spread one pixel every way
    EXPECT_EQ(gfx_pixel(19, h - 1 - 19), 5);
    EXPECT_EQ(gfx_pixel(28, h - 1 - 28), 5);
}

TEST_F(Plot, BoldBlackThenGreyGivesOutlinedText)
{
    gfx_fill_box(0, 0, w - 1, h - 1, 10);
    plot_text_bold(8, 8, "x", 0);
    plot_text(8, 8, "x", 7);
    const auto& glyph = font_glyph('x');
    for (int r = 0; r < 8; r++)
        for (int c = 0; c < 8; c++) {
            if (glyph[r] & (0x80 >> c)) {
                EXPECT_EQ(gfx_pixel(8 + c, h - 8 - 8 + r), 7);
            }
        }
    EXPECT_GT(count(0), 0);
    EXPECT_EQ(gfx_pixel(0, 0), 10);  // far from the text the background stays
}

}  // namespace
