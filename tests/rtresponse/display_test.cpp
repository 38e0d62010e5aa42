// One refresh of the response window, read back from the framebuffer: trace,
// grid, frequency labels with their halo, level labels and read-outs with their
// blanking bars, in both scales.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "analyser_fixture.hpp"
#include "display/hooks.hpp"
#include "display/plot.hpp"

namespace {

constexpr uint8_t black = 0, grey = 7, dark_grey = 8, green = 10, yellow = 14;

class DisplayTest : public AnalyserTest {
protected:
    // Opens the window of the chosen scale, painted white so that the clearing shows.
    void open(response_scale_id id)
    {
        response_scale_select(id);
        height = id == scale_orbisca ? 601 : 301;
        gfx_open_memory(1025, height);
        gfx_fill_box(0, 0, 1024, height - 1, 15);
    }
    // The levels handed to the display; bins 100 .. 923 decide the mean.
    std::vector<float> levels = std::vector<float>(2049, 0.0f);
    int64_t height = 301;

    void draw(int64_t buffer_size = 64, const char* name = "Loopback Interface Pro")
    {
        response_display(levels.data(), buffer_size, name);
    }
    // Runs the software loopback for eight periods, then analyses the published ring.
    static void loopback_levels()
    {
        build_tables();
        loopback_mode = 0;
        call(0.0f);
        snapshot_release();
        for (int64_t i = 0; i < 8 * 2048; i++)
            call(0.3f);
        ASSERT_TRUE(snapshot_freeze());
        response_analysis();
    }
};

// The trace row that the levels give, computed here from the definition: mean of
// bins 100 .. 923 summed in float in increasing order, ties to even.
int64_t expected_row(const float* level, int64_t k, float pixels_per_db, float zero_db_y)
{
    float sum = 0.0f;
    for (int64_t i = 100; i <= 923; i++)
        sum += level[i];
    const float mean = sum / 824.0f;
    return static_cast<int64_t>(std::nearbyint((level[k] - mean) * pixels_per_db + zero_db_y));
}

// A level that makes (level - 0) * pixels_per_db + zero_db_y exactly `target` in
// float, found by stepping through the floats near the real solution.
float level_for_row(float target, float pixels_per_db, float zero_db_y)
{
    float level = (target - zero_db_y) / pixels_per_db;
    for (int step = 0; step < 64; step++, level = std::nextafter(level, 1e9f)) {
        float probe = level;
        for (int back = 0; back < 64; back++, probe = std::nextafter(probe, -1e9f))
            if ((probe - 0.0f) * pixels_per_db + zero_db_y == target)
                return probe;
    }
    ADD_FAILURE() << "no level gives exactly " << target;
    return 0.0f;
}

// Checks the glyph pixels of text at plot (x, y) in colour; with `bar`, also that
// every other pixel of the blanking bar (columns x-1 .. x+8n-1, rows y-1 .. y+8)
// is black; with `halo`, that every non-glyph pixel next to a glyph pixel is black.
void expect_text(int64_t x, int64_t y, const std::string& text, uint8_t colour, bool bar, bool halo)
{
    int64_t width, height;
    gfx_size(width, height);
    const int64_t top = height - y - 8;  // window row of the glyphs' first row
    auto glyph_at = [&](int64_t wx, int64_t wy) {
        const int64_t cell = (wx - x) / 8;
        if (wx < x || wy < top || wy >= top + 8 || cell >= static_cast<int64_t>(text.size()))
            return false;
        const auto& rows = font_glyph(static_cast<uint8_t>(text[static_cast<size_t>(cell)]));
        return (rows[static_cast<size_t>(wy - top)] & (0x80 >> ((wx - x) % 8))) != 0;
    };
    const int64_t right = x + 8 * static_cast<int64_t>(text.size());
    int64_t glyph_pixels = 0;
    for (int64_t wy = top - 1; wy <= top + 8; wy++)
        for (int64_t wx = x - 1; wx <= right; wx++) {
            if (wx >= width)
                continue;
            const uint8_t pixel = gfx_pixel(wx, wy);
            if (glyph_at(wx, wy)) {
                glyph_pixels++;
                EXPECT_EQ(pixel, colour) << text << " glyph pixel " << wx << "," << wy;
                continue;
            }
            bool next_to_glyph = false;
            for (int64_t dx = -1; dx <= 1; dx++)
                for (int64_t dy = -1; dy <= 1; dy++)
                    next_to_glyph = next_to_glyph || glyph_at(wx + dx, wy + dy);
            if ((bar && wx < right) || (halo && next_to_glyph)) {
                EXPECT_EQ(pixel, black) << text << " blanked pixel " << wx << "," << wy;
            }
        }
    EXPECT_GT(glyph_pixels, 0) << text;
}

// ---- first refresh, flat paths, grid -----------------------------------------

// The all-zero snapshot of the first refresh: every bin -190 dB, which is also
// the mean, so the trace runs straight along the 0 dB line from x = 0.
TEST_F(DisplayTest, FirstRefreshDrawsAStraightTraceOnTheMeanLine)
{
    open(scale_tessaly);
    fft_2048(spectrum_re, spectrum_im, -1, 1);
    response_analysis();
    response_display(spectrum_re, 64, "Loopback Interface Pro");
    for (int64_t x = 0; x < 1025; x++) {
        const std::vector<int64_t> rows = rows_of_colour(x, green);
        if (x <= 996 || x == 1022 || x == 1023) {
            ASSERT_EQ(rows, std::vector<int64_t>{200}) << "column " << x;
        } else  // under the "0dB" label's blanking bar, and the grid's last column
            ASSERT_TRUE(rows.empty()) << "column " << x;
    }
    EXPECT_EQ(gfx_pixel(0, 100), green);  // plot row 200 is window row 100
    EXPECT_EQ(plot_pixel(1024, 200), dark_grey);
    const std::vector<uint8_t> pixels = gfx_pixels();
    EXPECT_EQ(std::count(pixels.begin(), pixels.end(), uint8_t{15}), 0);  // the whole window was cleared
}

// A flat path (here a gain of 0.5 and a delay of 37 frames) lies on the 0 dB
// line in every column, the DC bin included, whatever its gain.
TEST_F(DisplayTest, FlatPathLiesOnTheZeroDbLine)
{
    open(scale_tessaly);
    fft_2048(spectrum_re, spectrum_im, -1, 1);
    display_snapshot[37] = 0.5f;
    response_analysis();
    response_display(spectrum_re, 64, "x");
    for (int64_t x = 0; x <= 996; x++)
        ASSERT_EQ(rows_of_colour(x, green), std::vector<int64_t>{200}) << "column " << x;
}

TEST_F(DisplayTest, GridLinesOfTheTessalyScale)
{
    open(scale_tessaly);
    for (int64_t k = 0; k < 1024; k++)
        levels[k] = -5.0f;  // trace on the mean line, y = 200
    draw();
    for (int64_t x = 0; x <= 988; x++)
        ASSERT_EQ(plot_pixel(x, 100), dark_grey) << "column " << x;  // -1 dB
    for (int64_t x : {256, 512, 768}) {
        for (int64_t y = 11; y <= 300; y++)
            if (y != 200) {
                ASSERT_EQ(plot_pixel(x, y), dark_grey) << x << "," << y;
            }
    }
    for (int64_t x : {128, 384, 640, 896}) {
        for (int64_t y = 36; y <= 300; y++)  // the read-outs' bars cover x = 128 below
            if (y != 200 && y != 100) {
                ASSERT_EQ(plot_pixel(x, y), y % 2 == 0 ? dark_grey : black) << x << "," << y;
            }
    }
    for (int64_t x : {0, 127, 129, 1024})
        EXPECT_EQ(plot_pixel(x, 50), black) << x;  // no line at the edges
    EXPECT_EQ(plot_pixel(1024, 100), dark_grey);
    EXPECT_EQ(plot_pixel(500, 201), black);
    EXPECT_EQ(plot_pixel(500, 0), black);
}

TEST_F(DisplayTest, GridLinesOfTheOrbiscaScale)
{
    open(scale_orbisca);
    draw();
    for (int64_t y : {100, 200, 400, 500}) {
        for (int64_t x = 0; x <= 980; x++)
            ASSERT_EQ(plot_pixel(x, y), dark_grey) << x << "," << y;
        EXPECT_EQ(plot_pixel(1024, y), dark_grey);
    }
    for (int64_t x : {256, 512, 768})
        for (int64_t y = 11; y <= 600; y++)
            if (y != 300) {
                ASSERT_EQ(plot_pixel(x, y), dark_grey) << x << "," << y;
            }
    for (int64_t y = 11; y <= 600; y++)
        if (y % 100 != 0) {
            ASSERT_EQ(plot_pixel(640, y), y % 2 == 0 ? dark_grey : black) << y;
        }
    for (int64_t y : {50, 150, 250, 350, 450, 550, 599})
        EXPECT_EQ(plot_pixel(300, y), black) << y;
    EXPECT_EQ(plot_pixel(300, 300), green);  // the trace on the mean line
}

// ---- the software loopback, end to end in-process ------------------------------

// Flat between the band edges: one green pixel per column on the mean line (the
// "0dB" label's bar blanks columns 997 .. 1021). The edges mirror each other,
// with one row of slack where a level sits near a rounding boundary. The DC bin
// (rounding noise only) lies far below; the trace climbs into the window from
// the bottom edge in column 1.
TEST_F(DisplayTest, LoopbackTrace)
{
    struct edge {
        int64_t k, row, slack;
    };
    const struct {
        response_scale_id scale;
        float pixels_per_db, zero_db_y;
        int64_t flat_from, dc_row_below;
        std::vector<edge> edges;
    } scales[] = {{scale_tessaly,
                   100.0f,
                   200.0f,
                   5,
                   -4000,
                   {{3, 197, 1}, {1021, 197, 1}, {2, 186, 1}, {1022, 186, 1}, {1, 15, 1}, {1023, 15, 1}}},
                  {scale_orbisca, 10.0f, 300.0f, 3, 0, {{2, 299, 0}, {1022, 299, 0}, {1, 282, 1}, {1023, 282, 1}}}};
    for (const auto& s : scales) {
        shared_state_reset();
        open(s.scale);
        loopback_levels();
        response_display(spectrum_re, 64, "loopback");
        const float* level = spectrum_re;
        const int64_t mean_row = static_cast<int64_t>(s.zero_db_y);
        for (int64_t x = s.flat_from; x <= 996; x++)
            ASSERT_EQ(rows_of_colour(x, green), std::vector<int64_t>{mean_row}) << "column " << x;
        for (int64_t k = s.flat_from; k <= 1024 - s.flat_from; k++)
            ASSERT_EQ(expected_row(level, k, s.pixels_per_db, s.zero_db_y), mean_row) << "bin " << k;
        for (const edge& e : s.edges) {
            const int64_t row = expected_row(level, e.k, s.pixels_per_db, s.zero_db_y);
            EXPECT_NEAR(row, e.row, e.slack) << "bin " << e.k;
            const bool under_level_label = e.k >= 997 && e.k <= 1021;
            const bool under_readouts = e.k <= 177 && row >= 15 && row <= 34;
            if (!under_level_label && !under_readouts) {
                EXPECT_EQ(plot_pixel(e.k, row), green) << "bin " << e.k;
            }
        }
        EXPECT_NEAR(level[1] - level[500], -1.85f, 0.02f);
        EXPECT_LT(expected_row(level, 0, s.pixels_per_db, s.zero_db_y), s.dc_row_below);
        EXPECT_TRUE(rows_of_colour(0, green).empty());
        EXPECT_EQ(plot_pixel(0, 0), black);
        EXPECT_EQ(plot_pixel(1, 0), green);
        gfx_close();
    }
}

// ---- rounding of the trace rows --------------------------------------------------

// Trace rows round half to even: in Tessaly 300.5 stays in the top row, 301.5
// becomes 302 and leaves the window, 299.5 becomes 300; in Orbisca -0.5 rounds
// to the bottom row and 600.5 to the top row. Levels outside bins 100 .. 923
// keep the mean at 0. Only the columns between two equal points are checked:
// the first and last of a run also hold the strokes to their neighbours.
TEST_F(DisplayTest, TraceRowsRoundHalfToEven)
{
    struct half_row {
        float row;
        int64_t first_bin;
        int64_t y;
    };
    const struct {
        response_scale_id scale;
        float pixels_per_db, zero_db_y;
        std::vector<half_row> rows;
    } scales[] = {{scale_tessaly, 100.0f, 200.0f, {{300.5f, 20, 300}, {301.5f, 940, 302}, {299.5f, 60, 300}}},
                  {scale_orbisca, 10.0f, 300.0f, {{-0.5f, 20, 0}, {600.5f, 940, 600}}}};
    for (const auto& s : scales) {
        open(s.scale);
        std::fill(levels.begin(), levels.end(), 0.0f);
        for (const half_row& r : s.rows) {
            const float level = level_for_row(r.row, s.pixels_per_db, s.zero_db_y);
            EXPECT_EQ(response_trace_y(level, 0.0f, s.pixels_per_db, s.zero_db_y), r.y) << r.row;
            std::fill_n(levels.begin() + r.first_bin, 20, level);
        }
        draw();
        for (const half_row& r : s.rows) {
            const auto want = r.y < height ? std::vector<int64_t>{r.y} : std::vector<int64_t>{};
            for (int64_t x = r.first_bin + 1; x < r.first_bin + 19; x++)
                ASSERT_EQ(rows_of_colour(x, green), want) << "row " << r.row << ", column " << x;
        }
        gfx_close();
    }
}

// Non-finite levels (a broken input) draw nothing and stay well defined.
TEST_F(DisplayTest, NonFiniteLevelsStayOutsideTheWindow)
{
    EXPECT_EQ(response_trace_y(std::nanf(""), 0.0f, 100.0f, 200.0f), -1000000);
    EXPECT_EQ(response_trace_y(INFINITY, 0.0f, 100.0f, 200.0f), 1000000);
    EXPECT_EQ(response_trace_y(-INFINITY, 0.0f, 10.0f, 300.0f), -1000000);
    EXPECT_EQ(response_trace_y(3.0e38f, -3.0e38f, 100.0f, 200.0f), 1000000);
    open(scale_tessaly);
    fft_2048(spectrum_re, spectrum_im, -1, 1);
    display_snapshot[5] = std::nanf("");
    response_analysis();
    response_display(spectrum_re, 64, "x");
    const std::vector<uint8_t> pixels = gfx_pixels();
    EXPECT_EQ(std::count(pixels.begin(), pixels.end(), green), 0);
    levels[300] = INFINITY;
    draw();
}

// ---- labels and read-outs ------------------------------------------------------

const struct {
    const char* text;
    int64_t x;
} frequency_labels[] = {
    {"0", 2}, {"6kHz", 241}, {"12kHz", 493}, {"18kHz", 749}, {"24kHz", 984},
};

// Frequency labels at y = 2: grey text inside a black one-pixel halo that cuts
// through the grid lines beneath.
TEST_F(DisplayTest, FrequencyLabelsHaveAHalo)
{
    for (response_scale_id id : {scale_tessaly, scale_orbisca}) {
        open(id);
        draw();
        for (const auto& label : frequency_labels)
            expect_text(label.x, 2, label.text, grey, false, true);
        EXPECT_EQ(plot_pixel(256, 12), dark_grey);  // the grid above the halo
        EXPECT_EQ(plot_pixel(512, 0), dark_grey);   // and below it
    }
}

// Level labels at the right edge, each over a black bar as wide as its text; the
// bars cut the trace and the grid lines that pass beneath.
TEST_F(DisplayTest, LevelLabelsOverBlankingBarsInTessaly)
{
    open(scale_tessaly);
    const float at_294 = level_for_row(294.0f, 100.0f, 200.0f);
    for (int64_t k = 960; k < 1024; k++)
        levels[k] = at_294;  // a trace through the "1dB" label
    draw();
    expect_text(998, 290, "1dB", grey, true, false);
    expect_text(998, 196, "0dB", grey, true, false);
    expect_text(990, 96, "-1dB", grey, true, false);
    EXPECT_EQ(plot_pixel(996, 294), green);
    EXPECT_EQ(plot_pixel(1022, 294), green);
    EXPECT_NE(plot_pixel(997, 294), green);
    EXPECT_NE(plot_pixel(1021, 294), green);
    EXPECT_EQ(plot_pixel(988, 100), dark_grey);
    EXPECT_EQ(plot_pixel(989, 100), black);
    EXPECT_EQ(plot_pixel(1022, 100), dark_grey);
}

TEST_F(DisplayTest, LevelLabelsOverBlankingBarsInOrbisca)
{
    open(scale_orbisca);
    draw();
    const struct {
        const char* text;
        int64_t x, y;
    } labels[] = {
        {"30dB", 990, 590}, {"20dB", 990, 496},  {"10dB", 990, 396},
        {"0dB", 998, 296},  {"-10dB", 982, 196}, {"-20dB", 982, 96},
    };
    for (const auto& label : labels)
        expect_text(label.x, label.y, label.text, grey, true, false);
    for (int64_t y : {100, 200, 400, 500}) {
        EXPECT_EQ(plot_pixel(980, y), dark_grey) << y;
        EXPECT_NE(plot_pixel(1000, y), dark_grey) << y;
        EXPECT_EQ(plot_pixel(1022, y), dark_grey) << y;
    }
    EXPECT_EQ(plot_pixel(996, 300), green);
    EXPECT_NE(plot_pixel(997, 300), green);
    EXPECT_EQ(plot_pixel(1022, 300), green);
}

// Read-outs in yellow at x = 2: the device name at y = 26 and the buffer size at
// y = 16, each over its bar, which cuts the dotted grid line at x = 128.
TEST_F(DisplayTest, ReadoutsShowNameAndBufferSize)
{
    for (response_scale_id id : {scale_tessaly, scale_orbisca}) {
        open(id);
        draw(2048, "Loopback Interface Pro");
        expect_text(2, 26, "Loopback Interface Pro", yellow, true, false);
        expect_text(2, 16, "buffer size : 2048", yellow, true, false);
        for (int64_t y = 15; y <= 34; y++)
            EXPECT_NE(plot_pixel(128, y), dark_grey) << y;
        EXPECT_EQ(plot_pixel(128, 36), dark_grey);
    }
    open(scale_tessaly);
    draw(64, "");
    expect_text(2, 16, "buffer size : 64", yellow, true, false);
    EXPECT_EQ(plot_pixel(128, 26), dark_grey);  // an empty name blanks nothing
}

// The name buffer is 512 bytes; a name that fills it without a terminator is
// drawn from those bytes only (clipped at the window's edge).
TEST_F(DisplayTest, UnterminatedNameStaysInsideItsBuffer)
{
    open(scale_tessaly);
    std::vector<char> name(512, 'A');
    draw(64, name.data());
    expect_text(2, 26, std::string(127, 'A'), yellow, false, false);
}

}  // namespace
