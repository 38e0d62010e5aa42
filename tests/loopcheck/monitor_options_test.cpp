// The monitor's options: its duration's units, and every bad number refused
// (NaN, infinities, overflow through a unit) before anything is measured.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "loopcheck/options/monitor_options.hpp"

TEST(MonitorOptions, Durations)
{
    struct row {
        const char* text;
        bool good;
        double seconds;
    };
    const row rows[] = {{"30s", true, 30.0},
                        {"10m", true, 600.0},
                        {"8h", true, 28800.0},
                        {"0", true, 0.0},
                        {"90", true, 90.0},
                        {"1.5h", true, 5400.0},
                        {"1s", true, 1.0},
                        {"1000h", true, 3.6e6},
                        {"0.5s", false, 0.0},
                        {"1001h", false, 0.0},
                        {"-1s", false, 0.0},
                        {"nanh", false, 0.0},
                        {"infs", false, 0.0},
                        {"1e999h", false, 0.0},
                        {"", false, 0.0},
                        {"h", false, 0.0},
                        {"10 m", false, 0.0},
                        {"10d", false, 0.0},
                        {"1e308h", false, 0.0},
                        {"3600001", false, 0.0},
                        // Units spelt as people write them, and combined largest first.
                        {"10min", true, 600.0},
                        {"1h30m", true, 5400.0},
                        {"1h30m15s", true, 5415.0},
                        {"2m30s", true, 150.0},
                        {"1.5m", true, 90.0},
                        {"1h0m", true, 3600.0},
                        {"1h30", false, 0.0},
                        {"30m1h", false, 0.0},
                        {"1h1h", false, 0.0},
                        {"1m1min", false, 0.0},
                        {"min", false, 0.0},
                        {"1e3s", false, 0.0},
                        {"+5s", false, 0.0},
                        {"5ss", false, 0.0},
                        {"1.2.3s", false, 0.0}};
    for (const row& r : rows) {
        double seconds = -1.0;
        const std::string problem = monitor_duration_parse(r.text, seconds);
        EXPECT_EQ(problem.empty(), r.good) << r.text << ": " << problem;
        if (r.good) {
            EXPECT_EQ(seconds, r.seconds) << r.text;
        }
    }
}

TEST(MonitorOptions, LimitsAreCheckedAndGoWithTheMonitor)
{
    struct row {
        monitor_texts texts;
        std::string save_dir;
        bool good;
    };
    const row rows[] = {
        {{"60s", "3", "2.5"}, "", true}, {{"60s", "0", "0"}, "dir", true}, {{"60s", "1.5", ""}, "", false},
        {{"60s", "-1", ""}, "", false},  {{"60s", "nan", ""}, "", false},  {{"60s", "", "inf"}, "", false},
        {{"60s", "", "-2"}, "", false},  {{"", "3", ""}, "", false},       {{"", "", "1"}, "", false},
        {{"", "", ""}, "dir", false},    {{"", "", ""}, "", true}};
    for (const row& r : rows) {
        monitor_settings m;
        m.save_dir = r.save_dir;
        EXPECT_EQ(monitor_options_read(r.texts, m).empty(), r.good)
            << r.texts.duration << " " << r.texts.max_glitches << " " << r.texts.max_drift << " " << r.save_dir;
    }
}
