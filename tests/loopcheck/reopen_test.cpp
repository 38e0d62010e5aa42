// --reopen: its option refused where it does not hold (a number out of its
// range, not whole, not finite; beside a mode it does not go with), and the
// starts' statistics against closed forms: mean, min, max, sd, and whether
// the highest and lowest start agree within the sum of their uncertainties;
// the start's first sound (a click to its first captured frame) on a scripted
// stream whose loop delays it by the frames the table gives, under noise,
// DC and hum, a dropout, an answer too weak or too late to hear; the section
// of the page with its plot.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "common/loopcheck_parse.hpp"
#include "common/loopcheck_session.hpp"
#include "common/rig.hpp"
#include "loopcheck/io/stream_script.hpp"
#include "loopcheck/reopen/reopen.hpp"
#include "loopcheck/report/report_html.hpp"

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

namespace {

// The loop the scripted stream plays into: each input frame is gain times
// what was played delay frames before it (delay of a period or more), plus
// noise, DC and a 50 Hz hum; flagged: the cycles whose call the host flags.
struct cable {
    int64_t delay = 300;
    double gain = 1.0, noise_dbfs = -300.0, dc = 0.0, hum = 0.0;
    std::vector<int> flagged;
};
cable wire(int64_t delay, double gain = 1.0, double noise_dbfs = -300.0, double dc = 0.0, double hum = 0.0,
           std::vector<int> flagged = {})
{
    return {delay, gain, noise_dbfs, dc, hum, std::move(flagged)};
}

// The cycles first to last, each flagged.
std::vector<int> cycles(int first, int last)
{
    std::vector<int> out;
    for (int c = first; c <= last; c++)
        out.push_back(c);
    return out;
}

// The start's first sound through the cable, after lead frames of the stream
// already played (a start that has settled a while, or not at all).
reopen_first heard_through(const cable& c, double max_delay_s, int64_t lead)
{
    const stream_ptr s = stream_script_open(rate, false);
    reopen_plan plan;
    plan.rate = rate, plan.max_delay_s = max_delay_s;
    const float click[] = {0.25f};
    plan.click_clip = stream_clip_add(*s, stream_clip_loops(click, 1));
    stream_ring_need(*s, 1 << 18);
    stream_start(*s);
    std::vector<float> played;
    std::mt19937_64 random(11);
    std::normal_distribution<double> gauss(0.0, std::pow(10.0, c.noise_dbfs / 20.0));
    int cycle = 0;
    const capture_wait wait = [&](int64_t until) {
        while (stream_frames_done(*s) < until) {
            const int64_t first = stream_frames_done(*s);
            std::vector<float> in(period), out(period);
            for (int64_t i = 0; i < period; i++) {
                const int64_t source = first + i - c.delay;
                const double t = static_cast<double>(first + i) / rate;
                in[static_cast<size_t>(i)] =
                    static_cast<float>((source >= 0 ? c.gain * played[static_cast<size_t>(source)] : 0.0) + c.dc +
                                       c.hum * std::sin(2.0 * std::numbers::pi * 50.0 * t) + gauss(random));
            }
            const bool flag = std::find(c.flagged.begin(), c.flagged.end(), cycle++) != c.flagged.end();
            stream_script_cycle(*s, in.data(), out.data(), period, flag ? xrun_input_overflow : 0u);
            played.insert(played.end(), out.begin(), out.end());
        }
        return true;
    };
    wait(lead);
    return reopen_first_heard(*s, plan, wait);
}

}  // namespace

TEST(LoopcheckReopen, TheFirstSoundFromItsFrameToItsFirstCapturedFrame)
{
    struct row {
        const char* what;
        cable c;
        double max_delay_s = 2.0;
        int64_t lead = 0;
        int64_t frames;  // the cable's delay; -1: not heard
        int attempts = 1;
        const char* failure;  // the start of the reason, where not heard
    };
    const row rows[] = {
        {"the stream just started", wire(300), 2.0, 0, 300, 1, ""},
        {"after a second of the stream", wire(300), 2.0, 48000, 300, 1, ""},
        {"a delay of one period", wire(256), 2.0, 0, 256, 1, ""},
        {"a long loop, past the first captures' 50 ms", wire(9000, 0.5), 2.0, 0, 9000, 1, ""},
        {"noise at -100 dBFS, DC and hum", wire(556, 0.5, -100.0, 0.02, 0.01), 2.0, 0, 556, 1, ""},
        {"noise at -140 dBFS", wire(556, 1.0, -140.0), 2.0, 0, 556, 1, ""},
        // The first attempt's quiet and answer take 4096 + about 556 frames: its cycles 0 to 18.
        {"a dropout spoils the first attempt", wire(556, 1.0, -300.0, 0.0, 0.0, {10}), 2.0, 0, 556, 2, ""},
        {"the answer under the noise", wire(556, 0.01, -60.0), 0.1, 0, -1, 1, "not heard above the noise within"},
        {"a loop longer than looked for", wire(6000), 0.1, 0, -1, 1, "not heard above the noise within 5760 frames"},
        {"a dropout in every attempt", wire(556, 1.0, -300.0, 0.0, 0.0, cycles(1, 60)), 2.0, 0, -1, 3,
         "unstable: the first sound was spoiled 3 times: input overflow"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        const reopen_first f = heard_through(r.c, r.max_delay_s, r.lead);
        EXPECT_EQ(f.frames, r.frames) << f.failure;
        EXPECT_EQ(f.attempts, r.attempts);
        if (r.frames < 0)
            EXPECT_EQ(f.failure.rfind(r.failure, 0), 0u) << f.failure;
        else
            EXPECT_EQ(f.failure, "");
    }
}

namespace {

reopen_start measured_start(double frames, double u, int64_t heard)
{
    reopen_start s;
    s.measured = true, s.latency_frames = frames, s.uncertainty_frames = u, s.first_heard_frames = heard;
    s.open_ms = 3.5;
    return s;
}

}  // namespace

// The first sound's statistics over the starts where it was heard, apart from the round trip's.
TEST(LoopcheckReopen, TheFirstSoundsStatistics)
{
    reopen_start unheard = measured_start(600, 1e-4, -1);
    unheard.first_failure = "not heard above the noise within 96960 frames";
    // 556, 604, 569: mean 576.333...; deviations -20.333, 27.667, -7.333: ss = 413.44 + 765.44 + 53.78 = 1232.67.
    const std::vector<reopen_start> starts = {measured_start(556.0, 1e-4, 556), unheard,
                                              measured_start(604.0, 1e-4, 604), measured_start(569.0, 1e-4, 569)};
    const reopen_statistics s = reopen_statistics_of(starts);
    EXPECT_EQ(s.measured, 4);
    EXPECT_EQ(s.heard, 3);
    EXPECT_NEAR(s.heard_mean, 1729.0 / 3.0, 1e-9);
    EXPECT_EQ(s.heard_min, 556.0);
    EXPECT_EQ(s.heard_max, 604.0);
    const double mean = 1729.0 / 3.0;
    const double ss = (556 - mean) * (556 - mean) + (604 - mean) * (604 - mean) + (569 - mean) * (569 - mean);
    EXPECT_NEAR(s.heard_sd, std::sqrt(ss / 2.0), 1e-9);
    EXPECT_NEAR(s.mean, (556.0 + 600.0 + 604.0 + 569.0) / 4.0, 1e-9);
}

// The section of the page from the outcome alone: the plot's points at each
// measured start's number and round trip, its bars the uncertainty either
// side, the band min to max, the mean's line; the table a row per start, a
// failure's words escaped.
TEST(LoopcheckReopen, ThePagesPlotAndTable)
{
    reopen_outcome o;
    o.end.ran = true;
    o.facts = test_facts();
    o.plan.starts = 4;
    reopen_start failed;
    failed.failure = "no loop <found> & more";
    failed.first_failure = "not heard above the noise within 96960 frames";
    o.starts = {measured_start(556.0, 0.1, 556), measured_start(604.0, 0.2, 604), failed,
                measured_start(569.0, 0.1, 569)};
    report_plot drawn;
    ASSERT_TRUE(reopen_plot(o, drawn));
    const plot& p = drawn.p;
    EXPECT_EQ(plot_check(p), "");
    EXPECT_EQ(drawn.x, (std::vector<double>{1.0, 2.0, 4.0}));  // start 3 was not measured
    EXPECT_EQ(drawn.y, (std::vector<double>{556.0, 604.0, 569.0}));
    ASSERT_EQ(p.points.size(), 1u);
    EXPECT_EQ(p.points[0].x.size(), 3u);
    // The bars: from y - u to y + u at each start, broken between starts.
    ASSERT_GE(p.series.size(), 2u);
    const std::vector<double> bars_y(p.series[0].y.begin(), p.series[0].y.end());
    ASSERT_EQ(bars_y.size(), 9u);
    EXPECT_DOUBLE_EQ(bars_y[3], 603.8);
    EXPECT_DOUBLE_EQ(bars_y[4], 604.2);
    EXPECT_TRUE(std::isnan(bars_y[5]));
    EXPECT_EQ(p.series[0].x[6], 4.0);
    // The mean across every start, and the band from min to max.
    EXPECT_NEAR(p.series[1].y[0], 1729.0 / 3.0, 1e-9);
    EXPECT_EQ(p.series[1].x[0], 0.0);
    EXPECT_EQ(p.series[1].x[1], 5.0);
    ASSERT_EQ(p.bands.size(), 1u);
    EXPECT_EQ(p.bands[0].y0, 556.0);
    EXPECT_EQ(p.bands[0].y1, 604.0);
    EXPECT_LT(p.y.min, 556.0 - 0.2);
    EXPECT_GT(p.y.max, 604.0 + 0.2);
    EXPECT_EQ(p.x.min, 0.0);
    EXPECT_EQ(p.x.max, 5.0);

    test_session s;
    s.latency.reset();
    s.reopen = o;
    const session_result r = test_result(s);
    const std::string page = report_html(r, test_verdict(r), "2026-01-02 03:04:05 UTC");
    for (const char* shows :
         {"Start to start (--reopen)", "3 of 4", "mean 576.333 frames", "spread", "48.000 frames", "<svg",
          "first played to first captured 604 frames (12.583 ms)", "no loop &lt;found&gt; &amp; more",
          "first sound not heard: not heard above the noise within 96960 frames", "open to first callback 3.5 ms"})
        EXPECT_NE(page.find(shows), std::string::npos) << shows;
    EXPECT_EQ(page.find("<found>"), std::string::npos);
    // The latency's own conditions only where it was asked to run: beside
    // --reopen it was not, and "Runs 0 of 1 asked" said it had been.
    EXPECT_EQ(page.find("<th>Runs</th>"), std::string::npos);
    EXPECT_EQ(page.find("largest seen"), std::string::npos);

    // Starts that agree to the frame still get an axis a frame wide; none measured, no plot.
    o.starts = {measured_start(556.0, 1e-4, 556), measured_start(556.0, 1e-4, 556)};
    ASSERT_TRUE(reopen_plot(o, drawn));
    EXPECT_EQ(plot_check(drawn.p), "");
    EXPECT_GE(drawn.p.y.max - drawn.p.y.min, 1.0);
    o.starts = {failed};
    EXPECT_FALSE(reopen_plot(o, drawn));
}
