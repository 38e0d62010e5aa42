// The session's one verdict, a fold over the modes' judgements: which status
// wins when several modes failed (every pair, against the order written out
// here), --expect judged alone, runs that disagree, which modes may run
// after which, and the monitor's refusal of a loop too weak for it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "common/loopcheck_session.hpp"
#include "loopcheck/report/report.hpp"

namespace {

using json = nlohmann::json;

// One way to reach each failing status, on top of a measured loop, and words
// the message must then hold. Two of them together describe a session where
// both happened.
struct outcome {
    check_status status;
    const char* words;
    const char* slot;  // what it sets: two outcomes in one slot are one mode's, never together
    void (*apply)(test_session&);
};

monitor_outcome& monitor_of(test_session& s)
{
    if (!s.monitor)
        s.monitor.emplace();
    return *s.monitor;
}

battery_outcome& quality_of(test_session& s)
{
    if (!s.quality)
        s.quality.emplace();
    return *s.quality;
}

const outcome outcomes[] = {
    // A mode's words never name the program; the verdict names it for its own failures.
    {check_status::error, "loopcheck: cannot write x.csv", "files",
     [](test_session& s) {
         s.latency->files = {true, check_status::error, "cannot write x.csv", ""};
     }},
    {check_status::interrupted, "loopcheck: interrupted; the summary", "monitor",
     [](test_session& s) {
         monitor_outcome& m = monitor_of(s);
         m.end = {true, check_status::interrupted, "interrupted; the summary covers what was checked", ""};
         m.progress.summary.aligned = true;
     }},
    {check_status::no_loop, "too weak for --monitor", "monitor",
     [](test_session& s) {
         monitor_outcome& m = monitor_of(s);
         m.end.failure = check_status::no_loop, m.end.reason = "the loop is too weak for --monitor";
     }},
    {check_status::unstable, "segment was spoiled", "battery",
     [](test_session& s) {
         quality_of(s).end = {true, check_status::unstable, "unstable: the ccif segment was spoiled 3 times", ""};
     }},
    {check_status::monitor_input, "output's monitor", "input",
     [](test_session& s) { s.latency->facts.input_is_monitor = true; }},
    {check_status::glitches, "2 glitches found", "glitches",
     [](test_session& s) {
         monitor_outcome& m = monitor_of(s);
         m.end.ran = true;
         m.progress.summary.aligned = true;
         m.progress.summary.events = 2;
     }},
    {check_status::outside_expected, "outside the expected", "expect",
     [](test_session& s) { s.latency->plan.expect = true, s.latency->plan.expect_frames = 700.0; }},
    {check_status::outside_limits, "outside limits: thd_n_db", "battery",
     [](test_session& s) {
         battery_outcome& b = quality_of(s);
         b.end.ran = true;
         b.quality.judged = true;
         b.quality.verdicts.push_back({});
         b.quality.verdicts.back().figure = "thd_n_db", b.quality.verdicts.back().pass = false;
     }},
    {check_status::monitor_limit, "beyond --max-drift", "drift",
     [](test_session& s) {
         monitor_outcome& m = monitor_of(s);
         m.plan.max_drift_ppm = 1.0;
         m.end.ran = true;
         m.progress.summary.aligned = true;
         m.progress.summary.drift_ppm = 5.0;
     }},
    {check_status::max_latency, "no glitch-free buffer within --max-latency-ms 5", "sweep",
     [](test_session& s) {
         buffers_outcome b;
         b.plan.max_latency_ms = 5.0;
         b.end.ran = true;
         buffers_row row;
         row.requested = row.granted = 256, row.measured = row.soaked = row.found = row.judged = true;
         row.latency_frames = 556.0, row.rate = 48000.0;
         b.rows.push_back(row);
         s.buffers = b;
     }},
};

// The order the docs give, written out: what stops the measurement, then a
// loop that is not the cable, then glitches, then the tolerances.
const check_status documented_order[] = {
    check_status::error,
    check_status::interrupted,
    check_status::no_loop,
    check_status::unstable,
    check_status::monitor_input,
    check_status::glitches,
    check_status::outside_expected,
    check_status::outside_limits,
    check_status::monitor_limit,
    check_status::max_latency,
};

int place(check_status s)
{
    for (int i = 0; i < static_cast<int>(std::size(documented_order)); i++)
        if (documented_order[i] == s)
            return i;
    return -1;
}

}  // namespace

// The verdict of a session the test built.
check_verdict judged(const test_session& s) { return test_verdict(test_result(s)); }

TEST(LoopcheckVerdict, EachOutcomeAloneGivesItsStatus)
{
    const check_verdict clean = judged(test_measured());
    EXPECT_EQ(clean.status, check_status::ok);
    EXPECT_EQ(verdict_message(clean), "");
    for (const outcome& o : outcomes) {
        test_session s = test_measured();
        o.apply(s);
        const check_verdict v = judged(s);
        const std::string message = verdict_message(v);
        EXPECT_EQ(v.status, o.status) << o.words;
        EXPECT_NE(message.find(o.words), std::string::npos) << message;
        EXPECT_EQ(message.find("loopcheck: loopcheck"), std::string::npos) << message;
        EXPECT_EQ(verdict_exit_code(v), check_status_of(o.status).exit_code);
    }
}

// Two outcomes one session can hold: not one mode's two ends, and no
// figures from a monitor that refused the loop.
bool together(const outcome& a, const outcome& b)
{
    const auto refused_with_figures = [](const outcome& x, const outcome& y) {
        return x.status == check_status::no_loop &&
               (std::string(y.slot) == "glitches" || std::string(y.slot) == "drift");
    };
    return std::string(a.slot) != b.slot && !refused_with_figures(a, b) && !refused_with_figures(b, a);
}

// Every pair of outcomes: the one earlier in the documented order decides,
// and the message names both, the deciding one first.
TEST(LoopcheckVerdict, EveryPairFollowsThePrecedence)
{
    ASSERT_EQ(std::size(outcomes), std::size(documented_order));
    int pairs = 0;
    for (const outcome& a : outcomes)
        for (const outcome& b : outcomes) {
            if (&a == &b || !together(a, b))
                continue;
            pairs++;
            test_session s = test_measured();
            a.apply(s);
            b.apply(s);
            const check_verdict v = judged(s);
            const std::string message = verdict_message(v);
            const check_status want = place(a.status) < place(b.status) ? a.status : b.status;
            EXPECT_EQ(v.status, want) << a.words << " + " << b.words << ": " << message;
            EXPECT_NE(message.find(a.words), std::string::npos) << message;
            EXPECT_NE(message.find(b.words), std::string::npos) << message;
            const outcome& first = want == a.status ? a : b;
            const outcome& second = &first == &a ? b : a;
            EXPECT_LT(message.find(first.words), message.find(second.words)) << message;
        }
    EXPECT_EQ(pairs, 10 * 9 - 2 * 2 - 2 * 2);  // 90 ordered pairs less those of one slot and the refused monitor's
}

// --expect's pass is the expectation's alone: a latency within it passes
// while a limit fails, and the JSON says so beside status "outside limits".
TEST(LoopcheckVerdict, ExpectPassIsTheExpectationAlone)
{
    struct row {
        const char* name;
        double expected;
        bool limits_fail, monitor_input;
        bool pass;
        check_status status;
    };
    const row rows[] = {
        {"within, limits fail", 600.0, true, false, true, check_status::outside_limits},
        {"within, limits hold", 600.0, false, false, true, check_status::ok},
        {"outside, limits fail", 700.0, true, false, false, check_status::outside_expected},
        {"within, on a monitor", 600.0, false, true, false, check_status::monitor_input},
    };
    for (const row& x : rows) {
        SCOPED_TRACE(x.name);
        test_session s = test_measured();
        s.latency->plan.expect = true, s.latency->plan.expect_frames = x.expected;
        s.latency->plan.expect_tolerance = 0.5;
        if (x.limits_fail)
            outcomes[7].apply(s);
        s.latency->facts.input_is_monitor = x.monitor_input;
        const session_result r = test_result(s);
        const check_verdict v = test_verdict(r);
        EXPECT_EQ(latency_expect_pass(*s.latency), x.pass);
        EXPECT_EQ(v.status, x.status);
        const json j = json::parse(report_json(r, v));
        EXPECT_EQ(j["expect"]["pass"], x.pass);
        EXPECT_EQ(j["status"], check_status_of(x.status).json);
    }
}

// Runs further apart than half a frame are unstable (exit 4), on any loop,
// and neither the battery nor the monitor runs on them.
TEST(LoopcheckVerdict, RunsThatDisagreeAreUnstable)
{
    struct row {
        double first, second;
        bool on_loop_two;
        check_status status;
        const char* words;
    };
    const row rows[] = {
        {600.0, 600.5, false, check_status::ok, ""},
        {600.0, 601.0, false, check_status::unstable,
         "unstable: the runs disagree by 1.000 frames (from 600.000 to 601.000)"},
        {600.0, 606.0, false, check_status::unstable, "by 6.000 frames"},
        {600.0, 601.0, true, check_status::unstable, "loop 2 (out 2, in 2): unstable: the runs disagree by 1.000"},
    };
    for (const row& x : rows) {
        test_session s = test_measured();
        latency_outcome& l = *s.latency;
        if (x.on_loop_two) {
            l.plan.out_channels = l.plan.in_channels = {1, 2};
            l.measured.loops.push_back({2, 2, {test_run_at(x.first), test_run_at(x.second)}});
        } else {
            l.measured.runs = {test_run_at(x.first), test_run_at(x.second)};
        }
        const mode_judgement j = test_mode("latency").judge(l);
        const check_verdict v = judged(s);
        EXPECT_EQ(v.status, x.status) << verdict_message(v);
        EXPECT_NE(verdict_message(v).find(x.words), std::string::npos) << verdict_message(v);
        EXPECT_EQ(latency_stands(l), x.status == check_status::ok);
        // What stands in the way of the modes that play on the loop after it.
        EXPECT_EQ(j.blocks.empty(), x.status == check_status::ok) << j.blocks;
        if (x.status == check_status::unstable) {
            EXPECT_EQ(verdict_exit_code(v), 4);
        }
    }
}

// The battery and the monitor run after --expect or --limits failed; what
// makes them impossible keeps them from running (the judgement that blocks
// them says why; the session then does not run them: session_test).
TEST(LoopcheckVerdict, LaterModesRunUnlessImpossible)
{
    struct row {
        const char* name;
        void (*apply)(test_session&);
        bool battery, monitor;  // may run
        const char* why;
    };
    const row rows[] = {
        {"outside --expect", outcomes[6].apply, true, true, ""},
        {"outside --limits", outcomes[7].apply, true, true, ""},
        {"no loop",
         [](test_session& s) { s.latency->measured.runs.clear(), s.latency->end.failure = check_status::no_loop; },
         false, false, "no loop found"},
        {"a monitor's input", outcomes[4].apply, false, false, "output's monitor"},
        {"the latency threw",
         [](test_session& s) {
             s.latency->measured.runs.clear();
             s.latency->end = {false, check_status::error, "the latency: bad input", ""};
         },
         false, false, "a PortAudio or device error"},
        {"the battery interrupted",
         [](test_session& s) {
             quality_of(s).end = {true, check_status::interrupted, "interrupted", ""};
         },
         true, false, "interrupted"},
    };
    for (const row& x : rows) {
        SCOPED_TRACE(x.name);
        test_session s = test_measured();
        x.apply(s);
        const std::string latency_blocks = test_mode("latency").judge(*s.latency).blocks;
        const std::string quality_blocks = s.quality ? test_mode("quality").judge(*s.quality).blocks : "";
        EXPECT_EQ(latency_blocks.empty(), x.battery);
        EXPECT_EQ(latency_blocks.empty() && quality_blocks.empty(), x.monitor);
        const std::string why = latency_blocks.empty() ? quality_blocks : latency_blocks;
        EXPECT_NE(why.find(x.why), std::string::npos) << why;
    }
}

// A figure under its noise is judged as the bound it is: its check record
// says so, a max at or above it passes, a min fails (it could lie anywhere
// below), and only the failed limits are named.
TEST(LoopcheckVerdict, ALimitOnABoundIsACheckRecordOfTheBound)
{
    battery_outcome b;
    b.end.ran = true;
    b.quality.judged = true;
    const std::vector<quality_limit> limits = {{"thd_db", std::nullopt, -100.0}, {"noise_dbfs", -150.0, std::nullopt}};
    std::vector<quality_figure_set> loops(1);
    loops[0]["thd_db"] = quality_figure(-118.2, true), loops[0]["noise_dbfs"] = quality_figure(-140.0, true);
    b.quality.verdicts = quality_limits_judge(limits, loops);
    const mode_judgement j = test_mode("quality").judge(std::any(b));
    ASSERT_EQ(j.checks.size(), 3u);
    EXPECT_EQ(j.checks[0].name, "thd_db");
    EXPECT_TRUE(j.checks[0].bound);
    EXPECT_EQ(j.checks[0].value, -118.2);
    EXPECT_EQ(j.checks[0].result, check_result::pass);
    EXPECT_EQ(j.checks[1].name, "noise_dbfs");
    EXPECT_TRUE(j.checks[1].bound);
    EXPECT_EQ(j.checks[1].result, check_result::fail);
    EXPECT_EQ(j.checks[2].words, "outside limits: noise_dbfs");
}

// A loop the detector cannot follow is refused before the monitor starts,
// naming the level it needs; within its reach it is not.
TEST(LoopcheckVerdict, TheMonitorRefusesALoopTooWeak)
{
    struct row {
        double gain_db;
        bool refused;
    };
    for (const row x : {row{-86.0, true}, row{-80.5, true}, row{-79.5, false}, row{-6.0, false}, row{39.0, false}}) {
        test_session s = test_measured();
        s.latency->measured.runs = {test_run_at(600.0, x.gain_db)};
        mode_prior prior;
        test_mode("latency").hand_on(*s.latency, prior);
        const std::string why = monitor_refusal({prior.latency_frames.at(0), prior.gain, 0});
        EXPECT_EQ(!why.empty(), x.refused) << x.gain_db << ": " << why;
        if (x.refused) {
            EXPECT_NE(why.find("-80 dB"), std::string::npos) << why;
        }
    }
}

// The uncertainty of the mean: the runs' own (their RMS: a path's delay that
// depends on frequency does not average down), or the scatter's standard
// error of the mean, whichever is larger.
TEST(LoopcheckVerdict, TheMeansUncertaintyKeepsItsScatterTerm)
{
    struct row {
        std::vector<double> latency, own;
        double mean, sd, uncertainty;
    };
    const row rows[] = {
        {{600.0}, {0.2}, 600.0, 0.0, 0.2},
        {{600.0, 600.0, 600.0}, {0.1, 0.1, 0.1}, 600.0, 0.0, 0.1},
        // sd 0.3; its standard error 0.3 / sqrt(3) = 0.17320508 outweighs the runs' 0.001.
        {{600.0, 600.3, 600.6}, {0.001, 0.001, 0.001}, 600.3, 0.3, 0.17320508075688773},
        // RMS of 0.3 and 0.4 is sqrt(0.125) = 0.35355339; the scatter's 0.1 / sqrt(2) is smaller.
        {{600.0, 600.1}, {0.3, 0.4}, 600.05, 0.070710678118654752, 0.35355339059327379},
    };
    for (const row& x : rows) {
        std::vector<run_report> runs;
        for (size_t i = 0; i < x.latency.size(); i++) {
            runs.push_back(test_run_at(x.latency[i]));
            runs.back().result.latency_uncertainty = x.own[i];
        }
        const run_statistics s = runs_statistics(runs);
        EXPECT_NEAR(s.mean, x.mean, 1e-9);
        EXPECT_NEAR(s.sd, x.sd, 1e-9);
        EXPECT_NEAR(s.uncertainty, x.uncertainty, 1e-9);
    }
}
