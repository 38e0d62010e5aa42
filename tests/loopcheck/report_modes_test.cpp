// The modes' plot data: a coherent tone's spectrum point at its frequency and
// level, A-weighting added by its closed form; the harmonics' markers at
// k f; the delay's line broken at each glitch; eight hours of the monitor
// in bounded memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "analysis/quality_spectra.hpp"
#include "analysis/tones.hpp"
#include "analysis/weighting.hpp"
#include "loopcheck/monitor/monitor.hpp"
#include "loopcheck/quality/quality.hpp"
#include "loopcheck/report/report_html.hpp"

namespace {

// A cosine of 0.3 (-10.46 dBFS) on bin 683 of the block (1000.49 Hz at 48 kHz), after the settle's silence.
TEST(LoopcheckReportModes, ACoherentToneReadsItsLevelAtItsFrequency)
{
    const quality_plan p = quality_plan_make(48000.0, 1);
    const quality_segment& seg = p.segments.at(1);
    std::vector<float> capture(static_cast<size_t>(seg.settle_frames + seg.analysed_frames), 0.0f);
    const int64_t bin = 683;
    for (int64_t i = 0; i < seg.analysed_frames; i++)
        capture[static_cast<size_t>(seg.settle_frames + i)] = static_cast<float>(
            0.3 * std::cos(2.0 * std::numbers::pi * static_cast<double>(bin * i) / static_cast<double>(p.block)));
    const double hz = tones_hz(bin, p.rate, p.block);
    for (const bool a : {false, true}) {
        const quality_spectrum_curve c = quality_spectrum_of(p, seg, capture, a);
        ASSERT_LE(c.hz.size(), quality_spectrum_bins);
        const auto at = std::find(c.hz.begin(), c.hz.end(), hz);
        ASSERT_NE(at, c.hz.end()) << "a-weighted " << a;
        const double want = 20.0 * std::log10(0.3) + (a ? weighting_a_db(hz) : 0.0);
        EXPECT_NEAR(c.dbfs[static_cast<size_t>(at - c.hz.begin())], want, 1e-5);
    }
    EXPECT_TRUE(quality_spectrum_of(p, seg, std::span<const float>(capture).first(100), false).hz.empty());
}

TEST(LoopcheckReportModes, HarmonicsAreMarkedAtTheirMultiples)
{
    battery_outcome r;
    r.quality.ran = true;
    r.quality.plan = quality_plan_make(48000.0, 1);
    quality_tone_figures t;
    t.valid = true;
    t.conditions.hz = {997.5586};
    t.conditions.received_dbfs = -1.0;
    t.conditions.band_low_hz = 20.0, t.conditions.band_high_hz = 20000.0;
    t.thd_n_db = -80.0;
    t.harmonics_db[0] = -80.0, t.harmonics_db[1] = -94.0;  // H2, H3; the rest beyond the band here
    r.quality.loops.resize(1);
    r.quality.loops[0].tones = {t};
    r.quality.spectra.resize(1);
    r.quality.spectra[0].tones = {{{100.0, 997.5586, 1995.1172}, {-150.0, -1.0, -81.0}}};
    report_plot out;
    ASSERT_TRUE(quality_plot_tone_spectrum(r.quality, 0, 0, out));
    ASSERT_EQ(out.p.vlines.size(), 2u);
    EXPECT_EQ(out.p.vlines[0].x, 2 * 997.5586);
    EXPECT_EQ(out.p.vlines[1].x, 3 * 997.5586);
    ASSERT_EQ(out.p.points.at(0).y.size(), 2u);
    EXPECT_EQ(out.p.points[0].y[1], -95.0);  // the fundamental's level plus H3's
    ASSERT_EQ(out.p.series.size(), 2u);
    EXPECT_EQ(out.p.series[1].y[0], -81.0);  // the residue: the level plus THD+N
    EXPECT_FALSE(quality_plot_tone_spectrum(r.quality, 0, 1, out));
}

TEST(LoopcheckReportModes, TheDelayBreaksAtEachGlitch)
{
    monitor_outcome r;
    r.trace = monitor_trace_start(48000.0);
    for (int t = 0; t < 10; t++) {
        if (t == 4)
            monitor_trace_glitch(r.trace, 3.5);
        monitor_trace_delay(r.trace, t, t < 4 ? 1000.0 : 520.0);
    }
    monitor_trace_end(r.trace, 10.0);
    report_plot out;
    ASSERT_TRUE(monitor_plot_delay(r.trace, out));
    // Two points a second (lowest and highest), a gap between 3 s and 4 s.
    ASSERT_EQ(out.x.size(), 21u);
    EXPECT_EQ(out.x[7], 3.0);
    EXPECT_TRUE(std::isnan(out.x[8]) && std::isnan(out.y[8]));
    EXPECT_EQ(out.x[9], 4.0);
    ASSERT_EQ(out.p.vlines.size(), 1u);
    EXPECT_EQ(out.p.vlines[0].x, 3.5);
    EXPECT_EQ(out.p.y.min, 520.0 - 48.0);  // a tenth of 480 frames either side
    EXPECT_EQ(out.p.y.max, 1000.0 + 48.0);
}

// Eight hours, a delay point and a glitch every second.
TEST(LoopcheckReportModes, EightHoursStayBounded)
{
    monitor_trace m = monitor_trace_start(48000.0);
    for (int t = 0; t < 8 * 3600; t++) {
        monitor_trace_delay(m, t, 1000.0 + t % 7);
        monitor_trace_glitch(m, t + 0.5);
    }
    monitor_trace_end(m, 8 * 3600);
    EXPECT_EQ(m.delay.span, 8.0);
    EXPECT_EQ(m.delay.buckets.size(), 3600u);
    EXPECT_EQ(m.glitches.t.size(), m.glitches.capacity);
    EXPECT_EQ(m.glitches.count, 8 * 3600);
    int64_t stretches = 0;
    for (const int64_t n : m.stretches.counts)
        stretches += n;
    EXPECT_EQ(stretches, 8 * 3600 + 1);
    EXPECT_EQ(m.stretches.counts[series_histogram_bin_of(1.0)], 8 * 3600 - 1);
}

}  // namespace
