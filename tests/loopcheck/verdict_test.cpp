// The session's one verdict: which status wins when several modes failed
// (every pair, against the order written out here), --expect judged alone,
// runs that disagree, the modes that did not run and why, and the monitor's
// refusal of a loop too weak for it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "loopcheck/monitor/monitor_run.hpp"
#include "loopcheck/report/report.hpp"
#include "loopcheck/session_plans.hpp"
#include "loopcheck/verdict/verdict.hpp"

namespace {

using json = nlohmann::json;

run_report run_at(double latency, double gain_db = -6.0)
{
    run_report x;
    x.result.loop = true;
    x.result.latency = latency;
    x.result.latency_uncertainty = 0.001;
    x.result.gain_db = gain_db;
    x.result.snr_db = 80.0;
    x.result.input_peak = 0.25;
    return x;
}

// A session whose latency stands: two runs at 600 frames on one loop.
check_report measured()
{
    check_report r;
    r.rate = 48000.0;
    r.in_name = r.out_name = "scripted";
    r.setup.ran = r.latency.ran = true;
    r.runs = {run_at(600.0), run_at(600.0)};
    return r;
}

// One way to reach each failing status, on top of a measured loop, and words
// the message must then hold. Two of them together describe a session where
// both happened.
struct outcome {
    check_status status;
    const char* words;
    const char* slot;  // what it sets: two outcomes in one slot are one mode's, never together
    void (*apply)(check_report&);
};

const outcome outcomes[] = {
    // A mode's words never name the program; the verdict names it for its own failures.
    {check_status::error, "loopcheck: cannot write x.csv", "files",
     [](check_report& r) {
         r.files = {true, check_status::error, "cannot write x.csv", ""};
     }},
    {check_status::interrupted, "loopcheck: interrupted; the summary", "monitor",
     [](check_report& r) {
         r.options.monitor.on = true;
         r.watch = {true, check_status::interrupted, "interrupted; the summary covers what was checked", ""};
         r.monitor_end.summary.aligned = true;
     }},
    {check_status::no_loop, "too weak for --monitor", "monitor",
     [](check_report& r) {
         r.options.monitor.on = true;
         r.watch.failure = check_status::no_loop, r.watch.reason = "the loop is too weak for --monitor";
     }},
    {check_status::unstable, "segment was spoiled", "battery",
     [](check_report& r) {
         r.options.quality = true;
         r.battery = {true, check_status::unstable, "unstable: the ccif segment was spoiled 3 times", ""};
     }},
    {check_status::monitor_input, "output's monitor", "input", [](check_report& r) { r.input_is_monitor = true; }},
    {check_status::glitches, "2 glitches found", "glitches",
     [](check_report& r) {
         r.options.monitor.on = true;
         r.watch.ran = true;
         r.monitor_end.summary.aligned = true;
         r.monitor_end.summary.events = 2;
     }},
    {check_status::outside_expected, "outside the expected", "expect",
     [](check_report& r) { r.options.expect = true, r.options.expect_frames = 700.0; }},
    {check_status::outside_limits, "outside limits: thd_n_db", "battery",
     [](check_report& r) {
         r.options.quality = true;
         r.battery.ran = true;
         r.quality.judged = true;
         r.quality.verdicts.push_back({});
         r.quality.verdicts.back().figure = "thd_n_db", r.quality.verdicts.back().pass = false;
     }},
    {check_status::monitor_limit, "beyond --max-drift", "drift",
     [](check_report& r) {
         r.options.monitor.on = true, r.options.monitor.max_drift_ppm = 1.0;
         r.watch.ran = true;
         r.monitor_end.summary.aligned = true;
         r.monitor_end.summary.drift_ppm = 5.0;
     }},
    {check_status::max_latency, "no glitch-free buffer within --max-latency-ms 5", "sweep",
     [](check_report& r) {
         r.options.sweep.on = r.sweep.on = true, r.options.sweep.max_latency_ms = 5.0;
         r.buffers.ran = true;
         sweep_row row;
         row.requested = row.granted = 256, row.measured = row.soaked = row.found = true;
         row.latency_frames = 556.0, row.rate = 48000.0;
         r.sweep.rows.push_back(row);
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

TEST(LoopcheckVerdict, EachOutcomeAloneGivesItsStatus)
{
    const check_verdict clean = verdict_judge(measured());
    EXPECT_EQ(clean.status, check_status::ok);
    EXPECT_EQ(clean.message, "");
    EXPECT_TRUE(clean.measured);
    for (const outcome& o : outcomes) {
        check_report r = measured();
        o.apply(r);
        const check_verdict v = verdict_judge(r);
        EXPECT_EQ(v.status, o.status) << o.words;
        EXPECT_NE(v.message.find(o.words), std::string::npos) << v.message;
        EXPECT_EQ(v.message.find("loopcheck: loopcheck"), std::string::npos) << v.message;
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
            check_report r = measured();
            a.apply(r);
            b.apply(r);
            const check_verdict v = verdict_judge(r);
            const check_status want = place(a.status) < place(b.status) ? a.status : b.status;
            EXPECT_EQ(v.status, want) << a.words << " + " << b.words << ": " << v.message;
            EXPECT_NE(v.message.find(a.words), std::string::npos) << v.message;
            EXPECT_NE(v.message.find(b.words), std::string::npos) << v.message;
            const outcome& first = want == a.status ? a : b;
            const outcome& second = &first == &a ? b : a;
            EXPECT_LT(v.message.find(first.words), v.message.find(second.words)) << v.message;
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
        check_report r = measured();
        r.options.expect = true, r.options.expect_frames = x.expected, r.options.expect_tolerance = 0.5;
        if (x.limits_fail)
            outcomes[7].apply(r);
        r.input_is_monitor = x.monitor_input;
        const check_verdict v = verdict_judge(r);
        ASSERT_TRUE(v.expect_pass.has_value());
        EXPECT_EQ(*v.expect_pass, x.pass);
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
        check_report r = measured();
        r.options.quality = true, r.options.monitor.on = true;
        if (x.on_loop_two) {
            r.options.out_channels = r.options.in_channels = {1, 2};
            r.loops.push_back({2, 2, {run_at(x.first), run_at(x.second)}});
        } else {
            r.runs = {run_at(x.first), run_at(x.second)};
        }
        const check_verdict v = verdict_judge(r);
        EXPECT_EQ(v.status, x.status) << v.message;
        EXPECT_NE(v.message.find(x.words), std::string::npos) << v.message;
        if (x.status == check_status::unstable) {
            EXPECT_EQ(verdict_exit_code(v), 4);
            EXPECT_FALSE(v.measured);
            EXPECT_NE(verdict_blocker(r, false), "");
            ASSERT_EQ(v.not_run.size(), 2u);
            EXPECT_EQ(v.not_run[0].mode, "quality");
            EXPECT_EQ(v.not_run[1].mode, "monitor");
            EXPECT_NE(v.not_run[1].reason.find("disagree"), std::string::npos);
        }
    }
}

// The battery and the monitor run after --expect or --limits failed; what
// makes them impossible keeps them from running, and the verdict says so.
TEST(LoopcheckVerdict, LaterModesRunUnlessImpossible)
{
    struct row {
        const char* name;
        void (*apply)(check_report&);
        bool battery, monitor;  // may run
        const char* why;
    };
    const row rows[] = {
        {"outside --expect", outcomes[6].apply, true, true, ""},
        {"outside --limits", outcomes[7].apply, true, true, ""},
        {"no loop", [](check_report& r) { r.runs.clear(), r.latency.failure = check_status::no_loop; }, false, false,
         "no loop found"},
        {"a monitor's input", outcomes[4].apply, false, false, "output's monitor"},
        {"the stream never started",
         [](check_report& r) { r.runs.clear(), r.latency.ran = false, r.setup.failure = check_status::error; }, false,
         false, "never started"},
        {"the battery interrupted",
         [](check_report& r) {
             r.battery = {true, check_status::interrupted, "interrupted", ""};
         },
         true, false, "interrupted"},
    };
    for (const row& x : rows) {
        SCOPED_TRACE(x.name);
        check_report r = measured();
        x.apply(r);
        EXPECT_EQ(verdict_blocker(r, false).empty(), x.battery);
        EXPECT_EQ(verdict_blocker(r, true).empty(), x.monitor);
        r.options.monitor.on = true;
        const check_verdict v = verdict_judge(r);
        if (!x.monitor) {
            ASSERT_FALSE(v.not_run.empty());
            EXPECT_EQ(v.not_run.back().mode, "monitor");
            EXPECT_NE(v.not_run.back().reason.find(x.why), std::string::npos) << v.not_run.back().reason;
            const json j = json::parse(report_json(r, v));
            EXPECT_EQ(j["not_run"].back()["mode"], "monitor");
        }
    }
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
        check_report r = measured();
        r.runs = {run_at(600.0, x.gain_db)};
        const std::string why = monitor_refusal(monitor_plan_of(r).loop);
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
            runs.push_back(run_at(x.latency[i]));
            runs.back().result.latency_uncertainty = x.own[i];
        }
        const run_statistics s = runs_statistics(runs);
        EXPECT_NEAR(s.mean, x.mean, 1e-9);
        EXPECT_NEAR(s.sd, x.sd, 1e-9);
        EXPECT_NEAR(s.uncertainty, x.uncertainty, 1e-9);
    }
}
