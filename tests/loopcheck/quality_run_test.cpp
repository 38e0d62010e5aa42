// Two loops through a scripted stream: each input channel the answer, after
// its own delay and gain, to the output channel wired to it; the callback
// called cycle by cycle by the wait itself. It holds what the analysis's own
// tests cannot see: which capture belongs to which loop, where each loop's
// capture of a segment starts, and a dropout's segment played again.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <numbers>
#include <optional>
#include <vector>

#include "analysis/sweep.hpp"
#include "common/loopcheck_session.hpp"
#include "common/rig.hpp"
#include "loopcheck/io/stream_script.hpp"

namespace {

struct wire {
    int from = 0;       // the output channel that input channel k hears
    int64_t delay = 0;  // frames
    double gain = 1.0;
};

struct wiring {
    std::array<wire, 2> inputs;
    int flag_clip = -1;  // flag the call holding this clip's frame flag_offset, the first time it plays
    int64_t flag_offset = 0;
};

class two_loop_stream {
public:
    two_loop_stream(stream& s, const wiring& w) : s_(s), w_(w) {}

    bool wait(int64_t until)
    {
        while (stream_frames_done(s_) < until)
            cycle();
        return true;
    }

private:
    void cycle()
    {
        const int64_t first = stream_frames_done(s_);
        const int64_t start = stream_script_next_start(s_), clip = stream_script_next_clip(s_);
        bool flag = false;
        if (clip == w_.flag_clip && !flagged_) {
            const int64_t at = start + w_.flag_offset;
            flag = flagged_ = at >= first && at < first + period;
        }
        std::vector<float> in(period * 2), out(period * 2);
        for (int64_t i = 0; i < period; i++)
            for (int k = 0; k < 2; k++) {
                const wire& w = w_.inputs[static_cast<size_t>(k)];
                const int64_t source = first + i - w.delay;
                const std::vector<float>& played = played_[static_cast<size_t>(w.from)];
                in[static_cast<size_t>(i * 2 + k)] =
                    source >= 0 && source < static_cast<int64_t>(played.size())
                        ? static_cast<float>(w.gain * played[static_cast<size_t>(source)])
                        : 0.0f;
            }
        stream_script_cycle(s_, in.data(), out.data(), period, flag ? xrun_input_overflow : 0u);
        for (int64_t i = 0; i < period; i++)
            for (size_t k = 0; k < 2; k++)
                played_[k].push_back(out[static_cast<size_t>(i * 2) + k]);
    }

    stream& s_;
    wiring w_;
    std::array<std::vector<float>, 2> played_;
    bool flagged_ = false;
};

struct loops_measured {
    latency_outcome latency;
    std::optional<battery_outcome> quality;
    check_verdict verdict;  // of the latency, and the battery where it ran
    stream_ptr state;
};

// The latency mode and, with quality, the battery's on two loops: loop 1
// out 1 -> in 2, loop 2 out 2 -> in 1, each given its program, run and judged.
loops_measured measure_loops(wiring w, bool quality)
{
    loops_measured m;
    stream_request request;
    request.out_channels = {1, 2}, request.in_channels = {2, 1};
    m.state = stream_script_open(request, rate, false);
    stream& s = *m.state;
    latency_plan lp;
    lp.out_channels = request.out_channels, lp.in_channels = request.in_channels;
    lp.max_delay_s = 0.1, lp.settle_s = 0.0;
    battery_plan bp;
    bp.out_channels = request.out_channels, bp.in_channels = request.in_channels;
    bp.max_delay_s = 0.1;
    std::any latency_plan_any = lp, battery_plan_any = bp;
    const mode_row &latency = test_mode("latency"), &battery = test_mode("quality");
    latency.prepare(latency_plan_any, s);
    if (quality) {
        battery.prepare(battery_plan_any, s);
        if (w.flag_clip >= 0)
            w.flag_clip = std::any_cast<const battery_plan&>(battery_plan_any).clips.battery;
    }
    stream_ring_need(s, 1 << 20);
    stream_start(s);
    two_loop_stream stream(s, w);
    mode_run run{s, [&stream](int64_t until) { return stream.wait(until); }, nullptr, {}, {}};
    const std::any l = latency.run(latency_plan_any, {}, run);
    m.latency = std::any_cast<latency_outcome>(l);
    const mode_judgement latency_judged = latency.judge(l);
    std::vector<const mode_judgement*> judged{&latency_judged};
    mode_judgement battery_judged;
    if (quality && latency_judged.blocks.empty()) {
        mode_prior prior;
        latency.hand_on(l, prior);
        const std::any b = battery.run(battery_plan_any, prior, run);
        m.quality = std::any_cast<battery_outcome>(b);
        battery_judged = battery.judge(b);
        judged.push_back(&battery_judged);
    }
    m.verdict = verdict_fold(judged);
    return m;
}

double db(double gain) { return 20.0 * std::log10(gain); }

}  // namespace

// Each loop's latency is read from its own input: loop 1 is out 1 -> in 2.
TEST(LoopcheckLoops, EachLoopsLatencyFromItsOwnInput)
{
    const loops_measured m = measure_loops({{{{1, 603, 0.5}, {0, 600, 0.5}}}}, false);
    const latency_facts& f = m.latency.measured;
    ASSERT_EQ(m.verdict.status, check_status::ok) << verdict_message(m.verdict);
    ASSERT_EQ(f.loops.size(), 1u);
    EXPECT_NEAR(f.runs[0].result.latency, 600.0, 0.01);
    EXPECT_NEAR(f.loops[0].runs[0].result.latency, 603.0, 0.01);
    EXPECT_EQ(f.loops[0].out_channel, 2);
    EXPECT_EQ(f.loops[0].in_channel, 1);
}

// A loop that is not there ends it with the loop named, before any figure.
TEST(LoopcheckLoops, AMissingSecondLoopIsNoLoop)
{
    const loops_measured m = measure_loops({{{{1, 603, 0.0}, {0, 600, 0.5}}}}, true);
    EXPECT_EQ(m.verdict.status, check_status::no_loop);
    EXPECT_NE(verdict_message(m.verdict).find("loop 2 (out 2, in 1)"), std::string::npos) << verdict_message(m.verdict);
    EXPECT_FALSE(m.quality.has_value());
}

// The battery's captures start at each loop's own latency: the figures of a
// clean loop hold to the float floor, the gains are the wiring's, and the
// match's phase is the 3 frames' at the tone. A dropout inside a segment
// plays that segment again and leaves the figures as they are.
TEST(LoopcheckQualityRun, CapturesAlignedPerLoopAndSpoiledSegmentsReplayed)
{
    const quality_plan plan = quality_plan_make(rate, 2);
    const int64_t in_the_ccif_block = plan.segments[5].start + plan.segments[5].settle_frames + 1000;
    for (const int flag_clip : {-1, 1}) {
        SCOPED_TRACE(flag_clip);
        const double g1 = 0.5, g2 = 0.5 * std::pow(10.0, -0.5 / 20.0);
        const loops_measured m = measure_loops({{{{1, 603, g2}, {0, 600, g1}}}, flag_clip, in_the_ccif_block}, true);
        ASSERT_EQ(m.verdict.status, check_status::ok) << verdict_message(m.verdict);
        ASSERT_TRUE(m.quality.has_value());
        const quality_outcome& q = m.quality->quality;
        ASSERT_TRUE(q.ran);
        EXPECT_EQ(q.shifts, (std::vector<int64_t>{600, 603}));
        EXPECT_EQ(q.replayed.size(), flag_clip < 0 ? 0u : 1u);
        ASSERT_EQ(q.loops.size(), 2u);
        for (const quality_loop_figures& f : q.loops) {
            EXPECT_TRUE(f.valid) << f.reason;
            for (const quality_tone_figures& t : f.tones)
                EXPECT_LT(t.thd_n_db.value_or(0.0), -140.0) << t.conditions.level_dbfs;
            EXPECT_LT(f.ccif.db.value_or(0.0), -140.0);
        }
        EXPECT_NEAR(q.loops[0].gain_db.value_or(0.0), db(g1), 1e-3);
        EXPECT_NEAR(q.loops[1].gain_db.value_or(0.0), db(g2), 1e-3);
        const double hz = tones_hz(tones_bin(quality_tone_hz, rate, plan.block), rate, plan.block);
        EXPECT_NEAR(q.loops[1].match_gain_db.value_or(0.0), -0.5, 1e-3);
        EXPECT_NEAR(q.loops[1].match_phase_deg.value_or(0.0), -360.0 * hz * 3.0 / rate, 0.01);
        // No crosstalk in the wiring: at the other loop's bins each loop's
        // input holds nothing but the float rounding of its own tones.
        EXPECT_LE(q.loops[0].crosstalk_db.value_or(0.0), -170.0);
        EXPECT_LE(q.loops[1].crosstalk_db.value_or(0.0), -170.0);
        ASSERT_EQ(q.responses.size(), 2u);
        EXPECT_NEAR(q.responses[1].max_db.value_or(1.0), 0.0, 0.01);
    }
}
