// The response's summary on rows whose level is piecewise linear in
// frequency, so that the -3 dB points, read between two rows by linear
// interpolation, are exact: flat from 100 Hz to 10 kHz, falling 6 dB per
// 50 Hz below (-3 dB at 75 Hz) and 1 dB per kHz above (-3 dB at 13 kHz).
#include <gtest/gtest.h>

#include <vector>

#include "analysis/response.hpp"

namespace {

double shelf_db(double hz)
{
    if (hz < 100.0)
        return -6.0 * (100.0 - hz) / 50.0;
    if (hz > 10000.0)
        return -(hz - 10000.0) / 1000.0;
    return 0.0;
}

// Rows every 10 Hz from 10 Hz to top_hz.
std::vector<response_row> rows_of(double (*level)(double), double top_hz)
{
    std::vector<response_row> rows;
    for (double hz = 10.0; hz <= top_hz; hz += 10.0)
        rows.push_back({hz, level(hz), 0.0, 60.0});
    return rows;
}

}  // namespace

TEST(ResponseSummary, FlatnessAndTheMinus3dBPoints)
{
    struct row {
        const char* name;
        double (*level)(double);
        double rate, top_hz;
        double flatness, band_high, low, high;
    };
    const row rows[] = {
        // The band's lowest row is 20000 Hz at -10 dB (20 Hz reads -9.6): ±5 dB.
        {"48 kHz", shelf_db, 48000.0, 24000.0, 5.0, 20000.0, 75.0, 13000.0},
        // At 44.1 kHz the band ends at 0.45 x rate, 19845 Hz: its last row 19840 Hz at -9.84 dB.
        {"44.1 kHz", shelf_db, 44100.0, 22050.0, 4.92, 19845.0, 75.0, 13000.0},
        // Flat everywhere: no -3 dB point within the rows on either side.
        {"flat", [](double) { return 0.0; }, 48000.0, 24000.0, 0.0, 20000.0, -1.0, -1.0},
        // A 1 dB ripple across the band: ±0.5 dB, and still no -3 dB point.
        {"ripple", [](double hz) { return hz > 5000.0 ? -1.0 : 0.0; }, 96000.0, 48000.0, 0.5, 20000.0, -1.0, -1.0},
    };
    for (const row& x : rows) {
        SCOPED_TRACE(x.name);
        const std::vector<response_row> r = rows_of(x.level, x.top_hz);
        const response_summary s = response_summarise(r, x.rate);
        EXPECT_NEAR(s.flatness_db, x.flatness, 1e-9);
        EXPECT_EQ(s.band_low_hz, 20.0);
        EXPECT_EQ(s.band_high_hz, x.band_high);
        EXPECT_NEAR(s.minus3_low_hz, x.low, 1e-9);
        EXPECT_NEAR(s.minus3_high_hz, x.high, 1e-9);
    }
    // No rows at all (a run too short to give any): a summary of nothing, not a crash.
    const response_summary none = response_summarise({}, 48000.0);
    EXPECT_EQ(none.flatness_db, 0.0);
    EXPECT_EQ(none.minus3_low_hz, -1.0);
    EXPECT_EQ(none.minus3_high_hz, -1.0);
}
