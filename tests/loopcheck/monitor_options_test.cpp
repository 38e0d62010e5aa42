// The monitor's options: its duration's units, and every bad number refused
// (NaN, infinities, overflow through a unit) before anything is measured.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "common/loopcheck_parse.hpp"
#include "loopcheck/monitor/monitor.hpp"

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
        std::vector<std::string> words;
        bool good;
    };
    const row rows[] = {
        {{"--monitor", "60s", "--max-glitches", "3", "--max-drift", "2.5"}, true},
        {{"--monitor", "60s", "--max-glitches", "0", "--max-drift", "0", "--save-glitches", "dir"}, true},
        {{"--monitor", "60s", "--max-glitches", "1.5"}, false},
        {{"--monitor", "60s", "--max-glitches", "-1"}, false},
        {{"--monitor", "60s", "--max-glitches", "nan"}, false},
        {{"--monitor", "60s", "--max-drift", "inf"}, false},
        {{"--monitor", "60s", "--max-drift", "-2"}, false},
        {{"--max-glitches", "3"}, false},
        {{"--max-drift", "1"}, false},
        {{"--save-glitches", "dir"}, false},
        {{}, true},
    };
    for (const row& r : rows) {
        std::string line;
        for (const std::string& w : r.words)
            line += w + " ";
        const parsed_command p = loopcheck_parse(r.words);
        EXPECT_EQ(p.next == options_next::measure, r.good) << line << ": " << p.refusal;
    }
    // The values read are the monitor's plan.
    const parsed_command p = loopcheck_parse({"--monitor", "60s", "--max-glitches", "3", "--max-drift", "2.5"});
    ASSERT_EQ(p.next, options_next::measure);
    const monitor_plan& m = p.plan<monitor_plan>("monitor");
    EXPECT_EQ(m.duration_s, 60.0);
    EXPECT_EQ(m.max_glitches, 3);
    EXPECT_EQ(m.max_drift_ppm, 2.5);
}
