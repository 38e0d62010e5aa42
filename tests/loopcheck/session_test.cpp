// The session on a scripted stream with scripted modes: each mode asked
// prepared before the stream starts, run in the table's order on what the
// ones before hand on, judged; a mode that plays on the measured loop kept
// from it when a mode before blocks it, saying why; one that throws failing
// alone; one that is alone running by itself; a live one seeing the report
// so far; and every mode not run when the stream never opens or starts.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "loopcheck/io/stream_script.hpp"
#include "loopcheck/session.hpp"
#include "loopcheck/verdict/verdict.hpp"

namespace {

// What every scripted mode did, in order: "prepare NAME", "run NAME".
std::vector<std::string> calls;

// A scripted mode's plan and outcome: its name, what it does, what it saw.
struct script_plan {
    std::string name;
    bool prepare_throws = false, run_throws = false;
    std::string prepare_refuses;  // a reason prepare gives
    std::string blocks;           // what its judgement says against the modes after it
    double hands_latency = 0.0;   // what it hands on as the loop's latency (0: nothing)
    int64_t plays_frames = 0;     // frames it runs the stream for, in one call
    bool asks_so_far = false;     // a live mode: asks for the report so far
    check_status fails = check_status::ok;
    int clip = -1;
};
struct script_outcome {
    mode_end end;
    script_plan plan;
    std::vector<double> prior_latency;  // the prior it was handed
    std::string so_far;                 // the report so far, as it was handed
};

script_plan named(const char* name)
{
    script_plan p;
    p.name = name;
    return p;
}

std::string script_read(const option_values&, script_plan&, bool& asked)
{
    asked = true;
    return "";
}

std::string script_prepare(script_plan& p, stream& s)
{
    calls.push_back("prepare " + p.name);
    if (p.prepare_throws)
        throw std::invalid_argument("no such rate");
    p.clip = stream_clip_add(s, std::vector<float>(16, 0.5f));
    return p.prepare_refuses;
}

script_outcome script_run(const script_plan& p, const mode_prior& prior, mode_run& run)
{
    calls.push_back("run " + p.name);
    if (p.run_throws)
        throw std::runtime_error("out of memory");
    script_outcome o;
    o.plan = p;
    o.end.ran = true;
    o.end.failure = p.fails;
    o.end.reason = p.fails == check_status::ok ? "" : p.name + " failed";
    o.prior_latency = prior.latency_frames;
    if (p.plays_frames > 0) {
        std::vector<float> in(static_cast<size_t>(p.plays_frames)), out(in.size());
        stream_script_cycle(run.s, in.data(), out.data(), p.plays_frames, 0);
    }
    if (p.asks_so_far && run.live.so_far)
        o.so_far = run.live.so_far(false);
    return o;
}

mode_judgement script_judge(const script_outcome& o)
{
    mode_judgement j;
    check_end(j, o.plan.name, o.end);
    j.blocks = o.plan.blocks;
    return j;
}

void script_hand_on(const script_outcome& o, mode_prior& prior)
{
    if (o.plan.hands_latency > 0.0)
        prior.latency_frames = {o.plan.hands_latency};
}

std::string script_text(const script_outcome& o, const mode_judgement&, text_part part)
{
    return part == text_part::report && o.end.ran ? o.plan.name + " ran\n" : "";
}

mode_row script_mode(const char* name, bool plays_on_loop = false, bool alone = false, bool live = false)
{
    mode_functions<script_plan, script_outcome> f;
    f.read = script_read, f.prepare = script_prepare, f.run = script_run, f.judge = script_judge;
    f.hand_on = script_hand_on, f.text = script_text;
    mode_row row = mode_make(name, name, {}, f);
    row.plays_on_loop = plays_on_loop, row.alone = alone, row.live = live, row.noted = true;
    return row;
}

struct scripted {
    script_plan plan;
    const mode_row* row;
};

// The session over the modes given, on a scripted stream (or one that will not open).
session_result run_session(const std::vector<scripted>& modes, const std::string& open_refuses = "")
{
    calls.clear();
    std::vector<session_mode> asked;
    for (const scripted& m : modes)
        asked.push_back({m.row, m.plan});
    session_hooks hooks;
    hooks.open = [open_refuses](const stream_request& request, std::string& problem) {
        problem = open_refuses;
        return stream_script_open(request, 48000.0, false);
    };
    session_result result;
    hooks.live.so_far = [&result](bool) { return std::to_string(result.modes.size()) + " ended"; };
    session_run(stream_request{}, asked, hooks, result);
    return result;
}

const script_outcome& outcome_of(const session_result& r, size_t i)
{
    return std::any_cast<const script_outcome&>(r.modes.at(i).outcome);
}

}  // namespace

TEST(LoopcheckSession, ModesArePreparedThenRunInOrderOnWhatTheOnesBeforeHandOn)
{
    const mode_row first = script_mode("first"), player = script_mode("player", true),
                   live = script_mode("live", true, false, true);
    script_plan a = named("first"), b = named("player"), c = named("live");
    a.hands_latency = 612.5, a.plays_frames = 300;
    b.plays_frames = 64;
    c.asks_so_far = true;
    const session_result r = run_session({{a, &first}, {b, &player}, {c, &live}});
    EXPECT_EQ(calls, (std::vector<std::string>{"prepare first", "prepare player", "prepare live", "run first",
                                               "run player", "run live"}));
    ASSERT_EQ(r.modes.size(), 3u);
    EXPECT_TRUE(outcome_of(r, 0).prior_latency.empty());
    EXPECT_EQ(outcome_of(r, 1).prior_latency, std::vector<double>{612.5});
    EXPECT_EQ(outcome_of(r, 2).prior_latency, std::vector<double>{612.5});
    // The live mode's start sees the modes ended before it, not itself.
    EXPECT_EQ(outcome_of(r, 2).so_far, "2 ended");
    EXPECT_TRUE(r.live_ran);
    // The most frames the callback was handed in one call, over the modes.
    EXPECT_EQ(r.buffer_granted, 300);
    EXPECT_EQ(r.facts.host_api, "scripted");
    EXPECT_EQ(verdict_fold(session_judgements(r)).status, check_status::ok);
}

// A mode that plays on the measured loop runs only when every mode before it
// allows; the first that blocks says why, and a mode that does not play on
// the loop runs whatever.
TEST(LoopcheckSession, AModeThatPlaysOnTheLoopRunsOnlyWhenTheModesBeforeAllow)
{
    const mode_row first = script_mode("first"), free = script_mode("free"), player = script_mode("player", true);
    struct row {
        const char* what;
        std::string blocks;
        check_status fails;
        bool player_runs;
    };
    const row rows[] = {
        {"nothing in the way", "", check_status::ok, true},
        {"the latency failed", "no loop found", check_status::no_loop, false},
        {"a figure outside its tolerance only", "", check_status::outside_expected, true},
    };
    for (const row& x : rows) {
        SCOPED_TRACE(x.what);
        script_plan a = named("first");
        a.blocks = x.blocks, a.fails = x.fails;
        const session_result r = run_session({{a, &first}, {named("free"), &free}, {named("player"), &player}});
        ASSERT_EQ(r.modes.size(), 3u);
        EXPECT_TRUE(r.modes[1].end.ran);
        EXPECT_EQ(r.modes[2].end.ran, x.player_runs);
        if (!x.player_runs) {
            EXPECT_EQ(r.modes[2].end.reason, x.blocks);
            EXPECT_EQ(r.modes[2].end.failure, check_status::ok);  // not run is no failure of its own
        }
        EXPECT_EQ(verdict_fold(session_judgements(r)).status, x.fails);
    }
}

// An exception fails its own mode, with the mode's name and the words; the
// session goes on with the others. A prepare that refuses the stream ends the
// session before it starts.
TEST(LoopcheckSession, AModeThatThrowsFailsAlone)
{
    const mode_row first = script_mode("first"), second = script_mode("--second"), third = script_mode("third");
    struct row {
        const char* what;
        script_plan second;
        std::string words;
        bool third_runs;
    };
    script_plan throws_in_prepare = named("--second"), throws_in_run = named("--second"), refuses = named("--second");
    throws_in_prepare.prepare_throws = true;
    throws_in_run.run_throws = true;
    refuses.prepare_refuses = "rate 7000 Hz is not one the battery plays at";
    const row rows[] = {
        {"throws in prepare", throws_in_prepare, "loopcheck: --second: no such rate", true},
        {"throws in run", throws_in_run, "loopcheck: --second: out of memory", true},
        {"refuses the stream", refuses, "loopcheck: rate 7000 Hz is not one the battery plays at", false},
    };
    for (const row& x : rows) {
        SCOPED_TRACE(x.what);
        const session_result r = run_session({{named("first"), &first}, {x.second, &second}, {named("third"), &third}});
        const check_verdict v = verdict_fold(session_judgements(r));
        EXPECT_EQ(v.status, check_status::error);
        EXPECT_EQ(verdict_message(v), x.words);
        ASSERT_EQ(r.modes.size(), 3u);
        EXPECT_FALSE(r.modes[1].end.ran);
        EXPECT_EQ(r.modes[2].end.ran, x.third_runs);
        if (!x.third_runs) {
            EXPECT_EQ(r.modes[2].end.reason, "the stream never started");
        }
    }
}

// A mode alone takes the session to itself: the others asked are neither
// prepared nor run, and say nothing of it; the stream's buffer is its own.
TEST(LoopcheckSession, AModeAloneRunsByItself)
{
    const mode_row first = script_mode("first"), alone = script_mode("alone", false, true);
    script_plan a = named("alone");
    a.plays_frames = 512;
    const session_result r = run_session({{named("first"), &first}, {a, &alone}});
    EXPECT_EQ(calls, (std::vector<std::string>{"prepare alone", "run alone"}));
    ASSERT_EQ(r.modes.size(), 2u);
    EXPECT_FALSE(r.modes[0].end.ran);
    EXPECT_EQ(r.modes[0].end.reason, "");
    EXPECT_TRUE(r.modes[1].end.ran);
    EXPECT_EQ(r.buffer_granted, 0);  // the alone mode's streams are its own
}

// A stream that will not open: the setup's failure, every mode not run for it.
TEST(LoopcheckSession, AStreamThatWillNotOpenRunsNothing)
{
    const mode_row first = script_mode("first"), player = script_mode("player", true);
    const session_result r = run_session({{named("first"), &first}, {named("player"), &player}},
                                         "no device named like \"usb\" (dravik lists them)");
    EXPECT_TRUE(calls.empty());
    const check_verdict v = verdict_fold(session_judgements(r));
    EXPECT_EQ(v.status, check_status::error);
    EXPECT_EQ(verdict_message(v), "loopcheck: no device named like \"usb\" (dravik lists them)");
    ASSERT_EQ(r.modes.size(), 2u);
    for (const mode_result& m : r.modes) {
        EXPECT_FALSE(m.end.ran);
        EXPECT_EQ(m.end.reason, "the stream never started");
    }
}
