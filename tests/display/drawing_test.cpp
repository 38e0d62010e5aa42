// Pixels drawn by the line, box and text services into a memory framebuffer.
#include <gtest/gtest.h>

#include "display/display.hpp"
#include "display/hooks.hpp"

namespace {

class Drawing : public ::testing::Test {
protected:
    void SetUp() override { gfx_open_memory(40, 20); }
    void TearDown() override { gfx_close(); }

    // Pixels of colour c, as "x,y" pairs in row order.
    static std::vector<std::pair<int, int>> pixels_of(uint8_t c)
    {
        std::vector<std::pair<int, int>> found;
        int64_t w, h;
        gfx_size(w, h);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                if (gfx_pixel(x, y) == c)
                    found.emplace_back(x, y);
        return found;
    }
};

TEST_F(Drawing, SolidLineCoversEveryPixelBetweenItsEnds)
{
    gfx_line(2, 5, 12, 5, 9, 0xFFFF);
    auto p = pixels_of(9);
    ASSERT_EQ(p.size(), 11u);
    EXPECT_EQ(p.front(), std::make_pair(2, 5));
    EXPECT_EQ(p.back(), std::make_pair(12, 5));
}

TEST_F(Drawing, DiagonalLinePassesThroughBothEndPixels)
{
    gfx_line(1, 1, 11, 4, 9, 0xFFFF);
    EXPECT_EQ(gfx_pixel(1, 1), 9);
    EXPECT_EQ(gfx_pixel(11, 4), 9);
    EXPECT_EQ(pixels_of(9).size(), 11u);  // one pixel per column of an x-major line
    gfx_line(30, 18, 27, 2, 4, 0xFFFF);   // y-major, drawn towards the top
    EXPECT_EQ(gfx_pixel(30, 18), 4);
    EXPECT_EQ(gfx_pixel(27, 2), 4);
    EXPECT_EQ(pixels_of(4).size(), 17u);
}

TEST_F(Drawing, StyleBit15GovernsTheFirstEndPoint)
{
    // 0xAAAA: every second pixel, starting with the first end point.
    gfx_line(0, 0, 39, 0, 3, 0xAAAA);
    for (int x = 0; x < 40; x++)
        EXPECT_EQ(gfx_pixel(x, 0), x % 2 == 0 ? 3 : 0) << x;
    // Drawn from the right end, the pattern starts there.
    gfx_line(39, 2, 0, 2, 3, 0xAAAA);
    for (int x = 0; x < 40; x++)
        EXPECT_EQ(gfx_pixel(x, 2), (39 - x) % 2 == 0 ? 3 : 0) << x;
}

TEST_F(Drawing, OnlyTheLow16StyleBitsCount)
{
    gfx_line(0, 0, 39, 0, 3, 0xAAAAAAAAu);
    gfx_line(0, 1, 39, 1, 3, 0xAAAA);
    for (int x = 0; x < 40; x++)
        EXPECT_EQ(gfx_pixel(x, 0), gfx_pixel(x, 1)) << x;
    // 0x12348000: only bit 15 of the low half is set, so one pixel in 16.
    gfx_line(0, 3, 39, 3, 5, 0x12348000u);
    for (int x = 0; x < 40; x++)
        EXPECT_EQ(gfx_pixel(x, 3), x % 16 == 0 ? 5 : 0) << x;
}

TEST_F(Drawing, StylePhaseCountsFromTheFirstEndPointEvenWhenItIsClipped)
{
    // The first end point lies 3 pixels left of the window: pixel x = 0 is step 3.
    gfx_line(-3, 0, 39, 0, 6, 0x8888);  // every fourth step drawn: 0, 4, 8, ...
    for (int x = 0; x < 40; x++)
        EXPECT_EQ(gfx_pixel(x, 0), (x + 3) % 4 == 0 ? 6 : 0) << x;
}

TEST_F(Drawing, EverythingOutsideTheWindowIsClippedSilently)
{
    gfx_line(-50, -5, -1, -30, 7, 0xFFFF);
    gfx_line(100, 5, 200, 5, 7, 0xFFFF);
    gfx_box(-10, -10, -2, -2, 7);
    gfx_fill_box(41, 21, 90, 90, 7);
    gfx_text(-100, 5, "abc", 7);
    gfx_text(5, 400, "abc", 7);
    EXPECT_TRUE(pixels_of(7).empty());
    // Far-away end points, as a trace scaled by a tiny peak can give.
    gfx_line(5, -4000000000000LL, 5, 4000000000000LL, 8, 0xFFFF);
    EXPECT_EQ(pixels_of(8).size(), 20u);
    gfx_line(INT64_MIN / 4, 0, INT64_MAX / 4, 19, 2, 0xFFFF);  // must not hang or overflow
}

TEST_F(Drawing, PartlyVisibleShapesKeepTheirVisiblePixels)
{
    gfx_fill_box(-5, -5, 2, 3, 7);
    EXPECT_EQ(pixels_of(7).size(), 3u * 4u);
    gfx_box(35, 15, 45, 25, 9);  // only the top and left edges are inside
    EXPECT_EQ(pixels_of(9).size(), 5u + 4u);
}

TEST_F(Drawing, BoxesIncludeBothCornersInAnyOrder)
{
    gfx_box(12, 8, 3, 2, 1);
    EXPECT_EQ(gfx_pixel(3, 2), 1);
    EXPECT_EQ(gfx_pixel(12, 8), 1);
    EXPECT_EQ(gfx_pixel(7, 5), 0);  // inside stays
    EXPECT_EQ(pixels_of(1).size(), 2u * 10u + 2u * 5u);
    gfx_fill_box(20, 10, 15, 6, 2);
    EXPECT_EQ(pixels_of(2).size(), 6u * 5u);
    EXPECT_EQ(gfx_pixel(15, 6), 2);
    EXPECT_EQ(gfx_pixel(20, 10), 2);
}

TEST_F(Drawing, TextDrawsOnlyGlyphPixels)
{
    gfx_fill_box(0, 0, 39, 19, 5);
    gfx_text(3, 4, "A\xDB", 14);
    const auto& glyph = font_glyph('A');
    for (int r = 0; r < 8; r++)
        for (int c = 0; c < 8; c++)
            EXPECT_EQ(gfx_pixel(3 + c, 4 + r), (glyph[r] & (0x80 >> c)) ? 14 : 5) << r << "," << c;
    // Character 219 is a solid block, the next cell 8 pixels on.
    for (int r = 0; r < 8; r++)
        for (int c = 0; c < 8; c++)
            EXPECT_EQ(gfx_pixel(11 + c, 4 + r), 14);
    EXPECT_EQ(gfx_pixel(19, 4), 5);
    EXPECT_EQ(gfx_pixel(2, 4), 5);
}

TEST(Font, HasTheCodePage437Shapes)
{
    for (uint8_t row : font_glyph(219))
        EXPECT_EQ(row, 0xFF);
    for (uint8_t row : font_glyph(' '))
        EXPECT_EQ(row, 0x00);
    int lit = 0;
    for (int code : {1, 3, int{'A'}, int{'z'}, int{'0'}, 130, 176, 196, 225})
        for (uint8_t row : font_glyph(static_cast<uint8_t>(code)))
            lit += row != 0;
    EXPECT_GT(lit, 9 * 4);
    // The lower half block (220) and the left half block (221).
    EXPECT_EQ(font_glyph(220)[0], 0x00);
    EXPECT_EQ(font_glyph(220)[7], 0xFF);
    EXPECT_EQ(font_glyph(221)[3], 0xF0);
}

TEST(Font, EveryCharacterButTheBlanksHasAPicture)
{
    for (int code = 1; code < 255; code++) {
        if (code == ' ')
            continue;
        int lit = 0;
        for (uint8_t row : font_glyph(static_cast<uint8_t>(code)))
            lit += row != 0;
        EXPECT_GT(lit, 0) << "code " << code;
    }
    // Identical-to: three bars.
    EXPECT_EQ(font_glyph(240)[1], font_glyph(240)[3]);
    EXPECT_EQ(font_glyph(240)[3], font_glyph(240)[5]);
    EXPECT_EQ(font_glyph(240)[2], 0x00);
}

TEST(Palette, ListedIndicesHaveTheirExactColours)
{
    using rgb = std::array<uint8_t, 3>;
    EXPECT_EQ(palette_rgb(0), (rgb{0, 0, 0}));
    EXPECT_EQ(palette_rgb(7), (rgb{170, 170, 170}));
    EXPECT_EQ(palette_rgb(8), (rgb{85, 85, 85}));
    EXPECT_EQ(palette_rgb(10), (rgb{85, 255, 85}));
    EXPECT_EQ(palette_rgb(14), (rgb{255, 255, 85}));
    EXPECT_EQ(palette_rgb(15), (rgb{255, 255, 255}));
    EXPECT_EQ(palette_rgb(31), (rgb{255, 255, 255}));  // end of the grey ramp
    EXPECT_EQ(palette_rgb(32), (rgb{0, 0, 255}));      // first hue: blue
    EXPECT_EQ(palette_rgb(40), (rgb{255, 0, 0}));      // red
    EXPECT_EQ(palette_rgb(255), (rgb{0, 0, 0}));
}

}  // namespace
