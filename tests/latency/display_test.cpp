// One refresh of Karvel's window, drawn into an in-memory framebuffer and
// checked pixel by pixel. Window rows count down from the top: plot row y is
// window row 200 - y, and text at plot y has its top row at 193 - y.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "display/display.hpp"
#include "display/hooks.hpp"
#include "display/plot.hpp"
#include "frame/options.hpp"
#include "latency/callback.hpp"
#include "latency/display.hpp"
#include "latency/state.hpp"

namespace {

using namespace latency;

constexpr int64_t width = 1001;
constexpr int64_t height = 201;
constexpr const char* device = "Test Device";

using framebuffer = std::vector<uint8_t>;

uint8_t at(const framebuffer& fb, int64_t x, int64_t row) { return fb[static_cast<size_t>(row * width + x)]; }

int64_t count_colour(const framebuffer& fb, uint8_t colour)
{
    int64_t n = 0;
    for (uint8_t p : fb)
        n += p == colour;
    return n;
}

// Window row of the topmost pixel of a colour in column x, or -1.
int64_t topmost(const framebuffer& fb, int64_t x, uint8_t colour)
{
    for (int64_t row = 0; row < height; row++)
        if (at(fb, x, row) == colour)
            return row;
    return -1;
}

struct placed_text {
    int64_t x;
    int64_t y;
    std::string text;
};

// The given texts drawn with plot_text in one colour on a black window of
// their own; the window under test is gone afterwards (a fresh one is open).
framebuffer reference_text(const std::vector<placed_text>& texts, int64_t colour)
{
    gfx_close();
    gfx_open_memory(width, height);
    for (const placed_text& t : texts)
        plot_text(t.x, t.y, t.text, colour);
    framebuffer fb = gfx_pixels();
    gfx_close();
    gfx_open_memory(width, height);
    return fb;
}

// The four read-outs: the yellow pixels of the window are exactly those of the
// four texts, and each line's bar (columns 1 .. 8n+1, plot rows y-1 .. y+8) is
// black wherever its text has no pixel.
void expect_readouts(const framebuffer& fb, const std::string& name, const std::string& buffer_line,
                     const std::string& value_line, const std::string& position_line)
{
    const std::vector<placed_text> lines = {
        {2, 46, name}, {2, 36, buffer_line}, {2, 26, value_line}, {2, 16, position_line}};
    const framebuffer ref = reference_text(lines, 14);
    int64_t yellow_mismatches = 0;
    for (size_t i = 0; i < fb.size(); i++)
        yellow_mismatches += (fb[i] == 14) != (ref[i] == 14);
    EXPECT_EQ(yellow_mismatches, 0) << buffer_line << " / " << value_line << " / " << position_line;
    for (const placed_text& line : lines) {
        int64_t unblanked = 0;
        const int64_t right = 8 * static_cast<int64_t>(line.text.size()) + 1;
        for (int64_t row = 200 - (line.y + 8); row <= 200 - (line.y - 1); row++)
            for (int64_t x = 1; x <= right; x++)
                unblanked += at(ref, x, row) != 14 && at(fb, x, row) != 0;
        EXPECT_EQ(unblanked, 0) << line.text;
    }
}

class LatencyDisplay : public ::testing::Test {
protected:
    void SetUp() override
    {
        latency_reset_state();
        gfx_open_memory(width, height);
    }
    void TearDown() override
    {
        gfx_close();
        latency_reset_state();
    }

    static framebuffer draw(int64_t buffer_size = 64, int64_t overwrite = -1)
    {
        latency_display(buffer_size, overwrite, device);
        return gfx_pixels();
    }
};

// A single tap drawn at full height: green rows 15 .. 100 in its column and the
// next (up and back down), one green pixel on the zero line everywhere else.
void expect_single_peak_trace(const framebuffer& fb, int64_t index)
{
    for (int64_t row = 15; row <= 100; row++) {
        EXPECT_EQ(at(fb, index, row), 10) << "row " << row;
        EXPECT_EQ(at(fb, index + 1, row), 10) << "row " << row;
    }
    EXPECT_NE(at(fb, index, 14), 10);
    EXPECT_EQ(count_colour(fb, 10), 999 + 2 * 86);
    for (int64_t x = 0; x < width; x++)
        EXPECT_EQ(at(fb, x, 100), 10) << "column " << x;
}

// ---- the first refresh: all-zero snapshot ----------------------------------------

TEST_F(LatencyDisplay, AllZeroSnapshotShowsZeroPeakAndNoTrace)
{
    const framebuffer fb = draw();
    expect_readouts(fb, device, "buffer size : 64", "peak val    : 0.00", "peak pos    : 0 (0.0ms)");
    EXPECT_EQ(count_colour(fb, 10), 0);
}

TEST_F(LatencyDisplay, GridIsTheZeroLineAndNineVerticalsInDarkGrey)
{
    const framebuffer fb = draw();
    for (int64_t x = 0; x < width; x++)
        EXPECT_EQ(at(fb, x, 100), 8) << "column " << x;
    for (int64_t row = 20; row <= 140; row++) {
        for (int64_t x = 100; x <= 900; x += 100)
            EXPECT_EQ(at(fb, x, row), 8) << x << "," << row;
        if (row != 100) {
            EXPECT_EQ(at(fb, 0, row), 0);
            EXPECT_EQ(at(fb, 1000, row), 0);
            EXPECT_EQ(at(fb, 150, row), 0);
        }
    }
    // Dark grey nowhere else.
    int64_t stray = 0;
    for (int64_t row = 0; row < height; row++)
        for (int64_t x = 0; x < width; x++)
            stray += at(fb, x, row) == 8 && row != 100 && !(x % 100 == 0 && x >= 100 && x <= 900);
    EXPECT_EQ(stray, 0);
}

TEST_F(LatencyDisplay, AxisLabelsAreGreyTextInABlackHalo)
{
    const framebuffer fb = draw();
    const std::vector<placed_text> labels = {
        {2, 191, "0"},      {89, 191, "100"},   {189, 191, "200"},  {289, 191, "300"},  {389, 191, "400"},
        {489, 191, "500"},  {589, 191, "600"},  {689, 191, "700"},  {789, 191, "800"},  {889, 191, "900"},
        {968, 191, "1000"}, {2, 2, "0ms"},      {90, 2, "2.1ms"},   {190, 2, "4.2ms"},  {290, 2, "6.3ms"},
        {390, 2, "8.3ms"},  {482, 2, "10.4ms"}, {582, 2, "12.5ms"}, {682, 2, "14.6ms"}, {782, 2, "16.7ms"},
        {882, 2, "18.8ms"}, {953, 2, "20.8ms"}};
    const framebuffer ref = reference_text(labels, 7);
    int64_t grey_mismatches = 0, halo_not_black = 0, halo_pixels = 0;
    for (int64_t row = 0; row < height; row++)
        for (int64_t x = 0; x < width; x++) {
            grey_mismatches += (at(fb, x, row) == 7) != (at(ref, x, row) == 7);
            if (at(ref, x, row) == 7)
                continue;
            bool next_to_glyph = false;
            for (int64_t dy = -1; dy <= 1; dy++)
                for (int64_t dx = -1; dx <= 1; dx++) {
                    const int64_t nx = x + dx, ny = row + dy;
                    if (nx >= 0 && ny >= 0 && nx < width && ny < height && at(ref, nx, ny) == 7)
                        next_to_glyph = true;
                }
            if (next_to_glyph) {
                halo_pixels++;
                halo_not_black += at(fb, x, row) != 0;
            }
        }
    EXPECT_EQ(grey_mismatches, 0);
    EXPECT_GT(halo_pixels, 0);
    EXPECT_EQ(halo_not_black, 0);  // the halo cuts the grid lines around the labels
}

// ---- peak search and read-outs ---------------------------------------------------

struct peak_case {
    int64_t index;
    float value;
    const char* value_line;
    const char* position_line;
};
std::ostream& operator<<(std::ostream& os, const peak_case& c) { return os << "tap " << c.index << " = " << c.value; }

class LatencyDisplayPeak : public LatencyDisplay, public ::testing::WithParamInterface<peak_case> {};

TEST_P(LatencyDisplayPeak, ReadsOutThePeakAndDrawsItAtFullHeight)
{
    const peak_case c = GetParam();
    display_snapshot[c.index] = c.value;
    const framebuffer fb = draw();
    expect_single_peak_trace(fb, c.index);
    expect_readouts(fb, device, "buffer size : 64", c.value_line, c.position_line);
}

INSTANTIATE_TEST_SUITE_P(Positions, LatencyDisplayPeak,
                         ::testing::Values(peak_case{100, 0.5f, "peak val    : 0.50", "peak pos    : 100 (2.1ms)"},
                                           peak_case{128, 0.9714f, "peak val    : 0.97", "peak pos    : 128 (2.7ms)"},
                                           peak_case{131, 0.9714f, "peak val    : 0.97", "peak pos    : 131 (2.7ms)"},
                                           peak_case{999, 1.0f, "peak val    : 1.00", "peak pos    : 999 (20.8ms)"}));

// Exact ties in the formats go to the even digit: 0.125 -> 0.12, 0.375 -> 0.38,
// 12 / 48 = 0.25 ms -> 0.2, 36 / 48 = 0.75 ms -> 0.8.
TEST_F(LatencyDisplay, FormatTiesRoundToEven)
{
    display_snapshot[12] = 0.125f;
    expect_readouts(draw(), device, "buffer size : 64", "peak val    : 0.12", "peak pos    : 12 (0.2ms)");
    display_snapshot[12] = 0.0f;
    display_snapshot[36] = 0.375f;  // positive: a trace downwards would cross the read-outs
    expect_readouts(draw(), device, "buffer size : 64", "peak val    : 0.38", "peak pos    : 36 (0.8ms)");
}

TEST_F(LatencyDisplay, NegativePeakReachesDownTo85PixelsBelowTheZeroLine)
{
    display_snapshot[700] = -0.9714f;
    const framebuffer fb = draw();
    expect_readouts(fb, device, "buffer size : 64", "peak val    : 0.97", "peak pos    : 700 (14.6ms)");
    for (int64_t row = 100; row <= 185; row++)
        EXPECT_EQ(at(fb, 700, row), 10) << row;
    EXPECT_NE(at(fb, 700, 186), 10);
    EXPECT_EQ(topmost(fb, 700, 10), 100);
}

TEST_F(LatencyDisplay, StrictSearchKeepsTheFirstOfEqualMagnitudes)
{
    display_snapshot[300] = -0.6f;
    display_snapshot[200] = 0.6f;
    display_snapshot[250] = 0.6f;
    expect_readouts(draw(), device, "buffer size : 64", "peak val    : 0.60", "peak pos    : 200 (4.2ms)");
}

// The peak lies outside the window but still sets the scale: a tap of half the
// peak sits 42.5 px up, which rounds (ties to even) to 42.
TEST_F(LatencyDisplay, PeakBeyondTap1000IsReadOutAndScalesTheVisibleTrace)
{
    display_snapshot[1234] = 0.8f;
    display_snapshot[1500] = -0.8f;
    display_snapshot[500] = 0.4f;
    const framebuffer fb = draw();
    expect_readouts(fb, device, "buffer size : 64", "peak val    : 0.80", "peak pos    : 1234 (25.7ms)");
    EXPECT_EQ(topmost(fb, 500, 10), 200 - 142);
    EXPECT_EQ(topmost(fb, 501, 10), 200 - 142);
    EXPECT_EQ(count_colour(fb, 10), 999 + 2 * 43);
}

// The threshold compares the float peak, widened to double, with 0.01: the
// float nearest 0.01 lies just below it.
TEST_F(LatencyDisplay, TraceNeedsAPeakAbove001)
{
    const float nearest = 0.01f;
    ASSERT_LT(static_cast<double>(nearest), 0.01);
    display_snapshot[300] = nearest;
    framebuffer fb = draw();
    EXPECT_EQ(count_colour(fb, 10), 0);
    expect_readouts(fb, device, "buffer size : 64", "peak val    : 0.01", "peak pos    : 300 (6.2ms)");

    display_snapshot[300] = std::nextafter(nearest, 1.0f);
    fb = draw();
    expect_single_peak_trace(fb, 300);
}

// ---- overwrite mode and options ------------------------------------------------------

TEST_F(LatencyDisplay, WithoutOverwriteEachRefreshStartsFromABlackWindow)
{
    display_snapshot[300] = 0.5f;
    draw();
    display_snapshot[300] = 0.0f;
    display_snapshot[600] = 0.5f;
    const framebuffer fb = draw();
    expect_single_peak_trace(fb, 600);
    EXPECT_EQ(topmost(fb, 300, 10), 100);
}

class LatencyDisplayOverwrite : public LatencyDisplay, public ::testing::WithParamInterface<int64_t> {};

TEST_P(LatencyDisplayOverwrite, TracesPileUpAndReadOutsAreRedrawn)
{
    const int64_t overwrite = GetParam();
    display_snapshot[1234] = 0.9f;
    display_snapshot[350] = 0.5f;
    draw(64, overwrite);
    std::fill(std::begin(display_snapshot), std::end(display_snapshot), 0.0f);
    display_snapshot[5] = 0.5f;
    display_snapshot[600] = -0.25f;
    const framebuffer fb = draw(64, overwrite);

    EXPECT_EQ(topmost(fb, 350, 10), 200 - 147);  // first trace: 0.5 / 0.9 of 85 px
    EXPECT_EQ(topmost(fb, 5, 10), 15);           // second trace
    EXPECT_EQ(at(fb, 600, 200 - 58), 10);        // -0.25 / 0.5 of 85 px: 57.5, ties to even
    EXPECT_NE(at(fb, 600, 200 - 57), 10);
    // The shorter new texts leave nothing of the longer old ones.
    expect_readouts(fb, device, "buffer size : 64", "peak val    : 0.50", "peak pos    : 5 (0.1ms)");
}

// -o gives 0 and -o-1 gives 4294967295; only -1 (no -o at all) clears.
INSTANTIATE_TEST_SUITE_P(Values, LatencyDisplayOverwrite, ::testing::Values(0, 4294967295));

TEST_F(LatencyDisplay, BufferSizeIsShownAfterItsFallBack)
{
    expect_readouts(draw(buffer_size_lookup(100, 256).frames), device, "buffer size : 64", "peak val    : 0.00",
                    "peak pos    : 0 (0.0ms)");
    expect_readouts(draw(buffer_size_lookup(128, 256).frames), device, "buffer size : 128", "peak val    : 0.00",
                    "peak pos    : 0 (0.0ms)");
}

}  // namespace
