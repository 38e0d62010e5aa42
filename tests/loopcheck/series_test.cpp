// The report's bounded data: decimation that keeps peaks, the series that
// merges in pairs, the capped marks, the 1-2-5 histogram, the monitor's
// stretches. Truth from closed forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "analysis/series.hpp"
#include "loopcheck/monitor/monitor.hpp"
#include "loopcheck/monitor/monitor_trace.hpp"
#include "loopcheck/report/report_html.hpp"

namespace {

TEST(LoopcheckReportSeries, DecimationKeepsEveryPeakAndFewPoints)
{
    // 1 Hz bins to 24 kHz at -150, spikes at 0 dB where a harmonic would be,
    // one NaN that must never win, points below 10 Hz left out.
    std::vector<double> x, y;
    for (int k = 1; k < 24000; k++)
        x.push_back(k), y.push_back(-150.0);
    const int spikes[] = {997, 1994, 2991, 3988, 19940};
    for (const int s : spikes)
        y[static_cast<size_t>(s - 1)] = 0.0;
    y[4999] = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> hz, db;
    series_decimate_log(x, y, 10.0, 24000.0, 1000, hz, db);
    EXPECT_LE(hz.size(), 1000u);
    EXPECT_GT(hz.size(), 750u);  // from 129 Hz on (bins 0.78 % wide) every one holds a point
    EXPECT_GE(hz.front(), 10.0);
    for (size_t i = 1; i < hz.size(); i++)
        ASSERT_GT(hz[i], hz[i - 1]);
    size_t found = 0;
    for (size_t i = 0; i < hz.size(); i++) {
        ASSERT_FALSE(std::isnan(db[i])) << hz[i];
        if (db[i] == 0.0)
            found++;
    }
    EXPECT_EQ(found, std::size(spikes));
    for (const int s : spikes)
        EXPECT_NE(std::find(hz.begin(), hz.end(), s), hz.end()) << s;
}

// Points t = 0 .. m - 1, v = t: span is the smallest power of two with
// ceil(m / span) <= capacity, bucket j holds j span .. min(m, (j + 1) span) - 1.
TEST(LoopcheckReportSeries, TheSeriesMergesInPairsAndKeepsMinAndMax)
{
    struct row {
        size_t capacity;
        int m;
        double span;
    };
    const row rows[] = {{8, 5, 1}, {8, 8, 1}, {8, 9, 2}, {8, 100, 16}, {4096, 28800, 8}, {2, 3, 2}};
    for (const row& r : rows) {
        series s = series_make(r.capacity, 1.0);
        for (int t = 0; t < r.m; t++)
            series_add(s, t, t);
        const size_t buckets = static_cast<size_t>(std::ceil(r.m / r.span));
        ASSERT_EQ(s.span, r.span) << r.m;
        ASSERT_EQ(s.buckets.size(), buckets) << r.m;
        EXPECT_EQ(s.points, r.m);
        for (size_t j = 0; j < buckets; j++) {
            const double low = static_cast<double>(j) * r.span, high = std::min<double>(r.m, (j + 1) * r.span) - 1.0;
            ASSERT_TRUE(s.buckets[j].used);
            ASSERT_EQ(s.buckets[j].min, low) << r.m << " bucket " << j;
            ASSERT_EQ(s.buckets[j].max, high) << r.m << " bucket " << j;
            ASSERT_EQ(s.buckets[j].t_min, low);
            ASSERT_EQ(s.buckets[j].t_max, high);
        }
    }
}

TEST(LoopcheckReportSeries, TheSeriesSkipsWhatIsNotANumberAndLeavesGapsEmpty)
{
    series s = series_make(4, 1.0);
    series_add(s, 0.5, std::nan(""));
    series_add(s, std::numeric_limits<double>::infinity(), 1.0);
    series_add(s, -1.0, 1.0);
    series_add(s, 2.5, -3.0);
    ASSERT_EQ(s.points, 1);
    ASSERT_EQ(s.buckets.size(), 3u);
    EXPECT_FALSE(s.buckets[0].used);
    EXPECT_TRUE(s.buckets[2].used);
    series_add(s, 6.0, 4.0);  // beyond 4 buckets of 1 s: span 2, then the point in bucket 3
    ASSERT_EQ(s.span, 2.0);
    ASSERT_EQ(s.buckets.size(), 4u);
    EXPECT_EQ(s.buckets[1].min, -3.0);
    EXPECT_EQ(s.buckets[3].max, 4.0);
}

TEST(LoopcheckReportSeries, MarksKeepTheFirstAndCountThemAll)
{
    series_marks m;
    m.capacity = 3;
    for (int i = 0; i < 5; i++)
        series_marks_add(m, i);
    EXPECT_EQ(m.t, (std::vector<double>{0, 1, 2}));
    EXPECT_EQ(m.count, 5);
}

TEST(LoopcheckReportSeries, HistogramBinsOnOneTwoFive)
{
    EXPECT_EQ(series_histogram_bins(), 24u);
    EXPECT_EQ(series_histogram_edge(0), 0.01);
    EXPECT_EQ(series_histogram_edge(4), 0.2);
    EXPECT_EQ(series_histogram_edge(8), 5.0);
    EXPECT_EQ(series_histogram_edge(24), 1e6);
    const struct {
        double length;
        size_t bin;
    } rows[] = {{0.0, 0}, {0.005, 0}, {0.01, 0}, {0.0199, 0}, {0.02, 1}, {0.05, 2},     {0.1, 3},  {0.3, 4}, {1.0, 6},
                {1.5, 6}, {2.0, 7},   {4.99, 7}, {5.0, 8},    {10.0, 9}, {28800.0, 19}, {1e6, 23}, {1e9, 23}};
    for (const auto& r : rows)
        EXPECT_EQ(series_histogram_bin_of(r.length), r.bin) << r.length;
}

// Glitches at 1, 3 and 3.5 s of a 10 s run: stretches 1, 2, 0.5 and 6.5 s.
TEST(LoopcheckReportSeries, TheMonitorCountsItsStretches)
{
    const struct {
        std::vector<double> glitches;
        double end;
        std::vector<size_t> bins;
    } rows[] = {
        {{1.0, 3.0, 3.5}, 10.0, {6, 7, 5, 8}},
        {{}, 10.0, {9}},
        {{2.0, 10.0}, 10.0, {7, 8}},  // the second stretch 8 s; nothing after a glitch at the end
    };
    for (const auto& r : rows) {
        monitor_trace m = monitor_trace_start(48000.0);
        for (const double t : r.glitches)
            monitor_trace_glitch(m, t);
        monitor_trace_end(m, r.end);
        std::vector<int64_t> want(series_histogram_bins(), 0);
        for (const size_t b : r.bins)
            want[b]++;
        EXPECT_EQ(m.stretches.counts, want);
        EXPECT_EQ(m.checked_s, r.end);
    }
}

TEST(LoopcheckReportSeries, TheDelayAxisTakesItsUnitFromTheRunsLength)
{
    const struct {
        double seconds, unit;
    } rows[] = {{30.0, 1.0}, {600.0, 1.0}, {601.0, 60.0}, {36000.0, 60.0}, {28800.0, 60.0}, {36001.0, 3600.0}};
    for (const auto& r : rows)
        EXPECT_EQ(monitor_delay_unit_s(r.seconds), r.unit) << r.seconds;
}

}  // namespace
