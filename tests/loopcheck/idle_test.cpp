// --idle, the worked example's mode, offline: each loop's level with the
// outputs silent read against closed forms (a sine of amplitude A reads
// 20 log10 A dBFS both as RMS re a full-scale sine and as peak; white noise
// its RMS), digital silence named as such, a capture an xrun spoiled made
// again, and its words.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "common/loopcheck_parse.hpp"
#include "common/loopcheck_session.hpp"
#include "common/rig.hpp"
#include "loopcheck/io/stream_script.hpp"
#include "loopcheck/report/report.hpp"

namespace {

struct input {
    double sine = 0.0;   // amplitude of a 997 Hz sine
    double noise = 0.0;  // RMS of white (Gaussian) noise
};

// The mode on two scripted loops whose inputs carry what the rows give;
// flags: the cycles (from the stream's start) whose call the host flags.
idle_outcome idle_heard(const input (&loops)[2], std::vector<int> flags = {})
{
    stream_request request;
    request.out_channels = request.in_channels = {1, 2};
    const stream_ptr s = stream_script_open(request, rate, false);
    idle_plan plan;
    plan.out_channels = plan.in_channels = {1, 2};
    std::any any = plan;
    test_mode("idle").prepare(any, *s);
    stream_start(*s);
    std::mt19937_64 random{3};
    std::normal_distribution<double> gauss{0.0, 1.0};
    int cycle = 0;
    const capture_wait wait = [&](int64_t until) {
        while (stream_frames_done(*s) < until) {
            const int64_t first = stream_frames_done(*s);
            std::vector<float> in(2 * period), out(2 * period);
            for (int64_t i = 0; i < period; i++)
                for (int k = 0; k < 2; k++) {
                    const double t = static_cast<double>(first + i) / rate;
                    in[static_cast<size_t>(2 * i + k)] = static_cast<float>(
                        loops[k].sine * std::sin(2.0 * std::numbers::pi * 997.0 * t) + loops[k].noise * gauss(random));
                }
            const bool flagged = std::find(flags.begin(), flags.end(), cycle++) != flags.end();
            stream_script_cycle(*s, in.data(), out.data(), period, flagged ? xrun_input_overflow : 0u);
            for (const float x : out)
                EXPECT_EQ(x, 0.0f);  // the outputs silent
        }
        return true;
    };
    mode_run run{*s, wait, nullptr, {}, {}};
    return std::any_cast<idle_outcome>(test_mode("idle").run(any, {}, run));
}

}  // namespace

TEST(LoopcheckIdle, EachLoopsLevelWithTheOutputsSilent)
{
    struct row {
        const char* what;
        input in;
        double rms_dbfs, peak_dbfs, within;  // the closed form's, and how near
    };
    const row rows[] = {
        {"a sine of 0.01", {0.01, 0.0}, -40.0, -40.0, 0.05},
        {"a sine of 0.5", {0.5, 0.0}, 20.0 * std::log10(0.5), 20.0 * std::log10(0.5), 0.05},
        // Gaussian noise of RMS 1e-4: its RMS re a full-scale sine is 3 dB over; its peak over 24000 frames some 4
        // sigma.
        {"noise of -80 dB RMS", {0.0, 1e-4}, -80.0 + 20.0 * std::log10(std::sqrt(2.0)), -80.0 + 12.0, 0.2},
        {"digital silence", {0.0, 0.0}, -300.0, -300.0, 0.0},
    };
    for (const row& x : rows) {
        SCOPED_TRACE(x.what);
        const input loops[2] = {x.in, {0.25, 0.0}};
        const idle_outcome o = idle_heard(loops);
        ASSERT_TRUE(o.end.ran);
        EXPECT_EQ(o.end.failure, check_status::ok);
        EXPECT_EQ(o.seconds, idle_seconds);
        ASSERT_EQ(o.loops.size(), 2u);
        EXPECT_NEAR(o.loops[0].rms_dbfs, x.rms_dbfs, x.within);
        // A noise's peak is a statistic: within a few dB of its 4 sigma.
        EXPECT_NEAR(o.loops[0].peak_dbfs, x.peak_dbfs, x.in.noise > 0.0 ? 3.0 : x.within);
        // The other loop's own input, read apart.
        EXPECT_NEAR(o.loops[1].rms_dbfs, 20.0 * std::log10(0.25), 0.05);
    }
}

// A capture an xrun spoiled is made again; one spoiled three times in a row is unstable.
TEST(LoopcheckIdle, ASpoiledCaptureIsMadeAgain)
{
    const input loops[2] = {{0.01, 0.0}, {0.01, 0.0}};
    // The first capture starts 10 ms in and lasts 94 cycles of 256 frames: cycle 50 lies within it.
    const idle_outcome again = idle_heard(loops, {50});
    EXPECT_EQ(again.end.failure, check_status::ok);
    EXPECT_NEAR(again.loops.at(0).rms_dbfs, -40.0, 0.05);
    std::vector<int> every;
    for (int c = 0; c < 1000; c += 20)
        every.push_back(c);
    const idle_outcome spoiled = idle_heard(loops, every);
    EXPECT_EQ(spoiled.end.failure, check_status::unstable);
    EXPECT_EQ(spoiled.end.reason.find("unstable: --idle was spoiled 3 times: input overflow"), 0u)
        << spoiled.end.reason;
}

// Asked by its option alone; its words: a line per loop, its key in the
// JSON (null where it did not run), a section of the page.
TEST(LoopcheckIdle, ItsOptionAndItsWords)
{
    EXPECT_TRUE(loopcheck_parse({"--idle"}).plans.count("idle"));
    EXPECT_FALSE(loopcheck_parse({}).plans.count("idle"));
    idle_outcome o;
    o.end.ran = true;
    o.seconds = 0.5;
    o.loops = {{-92.25, -80.0}};
    test_session s = test_measured();
    s.idle = o;
    const session_result r = test_result(s);
    const check_verdict v = test_verdict(r);
    EXPECT_EQ(v.status, check_status::ok);
    EXPECT_NE(report_text(r, v).find("idle, loop 1 (out 1 → in 1), outputs silent: RMS -92.2 dBFS, peak -80.0 dBFS "
                                     "over 0.50 s\n"),
              std::string::npos)
        << report_text(r, v);
    const nlohmann::json j = nlohmann::json::parse(report_json(r, v));
    EXPECT_EQ(j["idle"][0]["rms_dbfs"], -92.25);
    s.idle->end = {false, check_status::ok, "the stream never started", ""};
    const session_result unrun = test_result(s);
    const nlohmann::json none = nlohmann::json::parse(report_json(unrun, test_verdict(unrun)));
    EXPECT_TRUE(none["idle"].is_null());
    EXPECT_EQ(none["not_run"][0]["mode"], "idle");
}
