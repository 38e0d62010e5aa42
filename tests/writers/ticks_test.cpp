// Axis ticks: 1-2-5 steps over ranges of every size, decades on log axes,
// and the labels people read.
#include <gtest/gtest.h>

#include <vector>

#include "writers/ticks.hpp"

TEST(WritersTicks, LinearStepsAreOneTwoFive)
{
    struct row {
        double lo, hi;
        int count;
        std::vector<double> ticks;
    };
    const row rows[] = {
        {0.0, 10.0, 5, {0, 2, 4, 6, 8, 10}},
        {0.0, 10.0, 10, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
        {-10.0, 10.0, 8, {-10, -5, 0, 5, 10}},
        {-1.3, 0.25, 4, {-1.0, -0.5, 0.0}},
        {-0.1, 0.1, 4, {-0.1, -0.05, 0.0, 0.05, 0.1}},
        {0.0, 48000.0, 6, {0, 10000, 20000, 30000, 40000}},
        {299.9, 300.6, 7, {299.9, 300.0, 300.1, 300.2, 300.3, 300.4, 300.5, 300.6}},
        {1.0, 1.0, 5, {}},
        {2.0, 1.0, 5, {}},
        {0.0, 1.0 / 0.0, 5, {}},
    };
    for (const row& r : rows) {
        const std::vector<double> ticks = ticks_linear(r.lo, r.hi, r.count);
        ASSERT_EQ(ticks.size(), r.ticks.size()) << r.lo << " .. " << r.hi;
        for (size_t i = 0; i < ticks.size(); i++)
            EXPECT_NEAR(ticks[i], r.ticks[i], 1e-9 * (1.0 + std::abs(r.ticks[i]))) << r.lo << " .. " << r.hi;
    }
}

TEST(WritersTicks, LogAxisLabelsOneTwoFiveOfEachDecade)
{
    struct row {
        double lo, hi;
        std::vector<double> labelled;
        size_t all;
    };
    const row rows[] = {
        {20.0, 20000.0, {20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000}, 28},
        {10.0, 24000.0, {10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000}, 29},
        // Seven decades: the decades alone.
        {1e-3, 1e4, {1e-3, 1e-2, 1e-1, 1, 10, 100, 1000, 10000}, 64},
        // Less than a decade: every tick, to have two labels at least.
        {300.0, 700.0, {300, 400, 500, 600, 700}, 5},
    };
    for (const row& r : rows) {
        std::vector<double> labelled;
        const std::vector<log_tick> ticks = ticks_log(r.lo, r.hi);
        for (const log_tick& t : ticks)
            if (t.labelled)
                labelled.push_back(t.value);
        EXPECT_EQ(ticks.size(), r.all) << r.lo;
        ASSERT_EQ(labelled.size(), r.labelled.size()) << r.lo;
        for (size_t i = 0; i < labelled.size(); i++)
            EXPECT_NEAR(labelled[i], r.labelled[i], 1e-9 * r.labelled[i]);
    }
    EXPECT_TRUE(ticks_log(0.0, 100.0).empty());
}

TEST(WritersTicks, Labels)
{
    struct row {
        std::string text, want;
    };
    const row rows[] = {
        {ticks_label_hz(20.0), "20"},
        {ticks_label_hz(500.0), "500"},
        {ticks_label_hz(1000.0), "1k"},
        {ticks_label_hz(1500.0), "1.5k"},
        {ticks_label_hz(20000.0), "20k"},
        {ticks_label_hz(31.5), "31.5"},
        {ticks_label(0.30000000000000004, 0.1), "0.3"},
        {ticks_label(-2.0, 1.0), "-2"},
        {ticks_label(0.05, 0.05), "0.05"},
        {ticks_label(-1e-17, 0.1), "0"},
        {ticks_label(20000.0, 5000.0), "20000"},
    };
    for (const row& r : rows)
        EXPECT_EQ(r.text, r.want);
}
