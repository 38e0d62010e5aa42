// --reopen: its option refused where it does not hold (a number out of its
// range, not whole, not finite; beside a mode it does not go with), and the
// starts' statistics against closed forms: mean, min, max, sd, and whether
// the highest and lowest start agree within the sum of their uncertainties.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "common/loopcheck_parse.hpp"
#include "loopcheck/reopen/reopen.hpp"

TEST(LoopcheckReopen, ItsOptionIsCheckedAndGoesAlone)
{
    struct row {
        std::vector<std::string> words;
        const char* refusal;  // the start of the reason; "" when it is read
        int64_t starts;
    };
    const row rows[] = {
        {{"--reopen", "10"}, "", 10},
        {{"--reopen", "2"}, "", 2},
        {{"--reopen", "1000"}, "", 1000},
        {{"--reopen", "1"}, "--reopen", 0},
        {{"--reopen", "1001"}, "--reopen", 0},
        {{"--reopen", "2.5"}, "--reopen: \"2.5\" is not a whole number of starts", 0},
        {{"--reopen", "nan"}, "--reopen", 0},
        {{"--reopen", "inf"}, "--reopen", 0},
        {{"--reopen", "-3"}, "--reopen", 0},
        {{"--reopen", "10", "--monitor", "10s"}, "--reopen: --monitor does not go with it", 0},
        {{"--reopen", "10", "--buffers", "256"}, "", 0},  // one of the two refuses the other
        {{"--reopen", "10", "--quality"}, "--reopen: --quality, --limits and --crosstalk does not go", 0},
        {{"--reopen", "10", "--expect", "300"}, "--reopen: --expect does not go with it", 0},
    };
    for (const row& r : rows) {
        std::string line;
        for (const std::string& w : r.words)
            line += w + " ";
        SCOPED_TRACE(line);
        const parsed_command p = loopcheck_parse(r.words);
        if (std::string(r.refusal).empty() && r.starts > 0) {
            ASSERT_EQ(p.refusal, "");
            EXPECT_EQ(p.plan<reopen_plan>("reopen").starts, r.starts);
        } else if (r.starts == 0 && std::string(r.refusal).empty()) {
            EXPECT_NE(p.refusal.find("does not go with it"), std::string::npos) << p.refusal;
        } else {
            EXPECT_EQ(p.refusal.rfind(r.refusal, 0), 0u) << p.refusal;
        }
    }
}

TEST(LoopcheckReopen, StatisticsOverTheStartsMeasured)
{
    const auto start = [](double frames, double u) {
        reopen_start s;
        s.measured = true, s.latency_frames = frames, s.uncertainty_frames = u;
        return s;
    };
    reopen_start failed;
    failed.failure = "no loop";
    struct row {
        const char* what;
        std::vector<reopen_start> starts;
        int64_t measured;
        double mean, min, max, sd;
        bool agree;
    };
    // sd of 558, 570, 603: mean 577, deviations -19, -7, 26: sqrt((361 + 49 + 676) / 2) = sqrt(543).
    const row rows[] = {
        {"three apart",
         {start(558, 1e-4), start(570, 1e-4), start(603, 1e-4)},
         3,
         577,
         558,
         603,
         std::sqrt(543.0),
         false},
        {"the same", {start(556, 1e-4), start(556, 1e-4)}, 2, 556, 556, 556, 0, true},
        {"apart by the sum of the extremes' uncertainties",
         {start(556.0, 0.2), start(556.3, 0.1)},
         2,
         556.15,
         556.0,
         556.3,
         std::sqrt(0.045),
         true},
        {"just beyond it",
         {start(556.0, 0.2), start(556.31, 0.1)},
         2,
         556.155,
         556.0,
         556.31,
         std::sqrt(0.04805),
         false},
        {"a start not measured is left out",
         {start(600, 1e-4), failed, start(602, 1e-4)},
         2,
         601,
         600,
         602,
         std::sqrt(2.0),
         false},
        {"none measured", {failed, failed}, 0, 0, 0, 0, 0, true},
        {"one measured", {start(300, 1e-4)}, 1, 300, 300, 300, 0, true},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        const reopen_statistics s = reopen_statistics_of(r.starts);
        EXPECT_EQ(s.measured, r.measured);
        EXPECT_NEAR(s.mean, r.mean, 1e-9);
        EXPECT_NEAR(s.min, r.min, 1e-9);
        EXPECT_NEAR(s.max, r.max, 1e-9);
        EXPECT_NEAR(s.sd, r.sd, 1e-9);
        EXPECT_EQ(s.agree, r.agree);
    }
}
