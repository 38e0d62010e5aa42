// The buffer sweep (--buffers): its options checked before any device is
// touched, a size's latency and soak becoming its row, the smallest safe
// buffer and the gate, the sweep's own end, the renderers' one table; and
// the mode itself run offline, on a scripted loop whose round trip is the
// server's period plus 300 frames (as a JACK server's dummy backend and
// loopsim make it), the server a fake one behind the server-buffer seam.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "common/loopcheck_parse.hpp"
#include "common/loopcheck_session.hpp"
#include "common/rig.hpp"
#include "loopcheck/io/stream_script.hpp"
#include "loopcheck/report/report.hpp"
#include "loopcheck/report/report_html.hpp"

namespace {

// A size's latency that stood at latency frames, and its soak of soak_s
// seconds checked at 48 kHz with the glitches and xruns given.
struct size_ran {
    latency_outcome latency;
    std::optional<monitor_outcome> soak;
};

size_ran size_session(double latency, int64_t dropped, int64_t inserted, int64_t xruns, double soak_s = 10.0)
{
    size_ran r;
    r.latency.end.ran = true;
    r.latency.facts = test_facts();
    run_report x;
    x.result.loop = true, x.result.latency = latency, x.result.latency_uncertainty = 0.0001;
    x.result.snr_db = 80.0, x.result.input_peak = 0.25;
    r.latency.measured.runs = {x};
    monitor_outcome m;
    m.end.ran = true;
    monitor_progress& p = m.progress;
    p.rate = 48000.0;
    p.summary.aligned = true;
    p.summary.frames_checked = std::lrint(soak_s * 48000.0);
    p.summary.by_kind[static_cast<size_t>(monitor_kind::dropped)] = dropped;
    p.summary.by_kind[static_cast<size_t>(monitor_kind::inserted)] = inserted;
    p.summary.events = dropped + inserted;
    p.xruns = xruns;
    r.soak = m;
    return r;
}

// The row of a size that ran so (the soak judged as the mode judges it).
buffers_row row_of(const size_ran& r, int64_t size, int64_t server)
{
    const std::any latency = r.latency;
    const mode_judgement latency_judged = test_mode("latency").judge(latency);
    std::any soak;
    mode_judgement soak_judged;
    buffers_size_run ran{&latency, &latency_judged, nullptr, nullptr};
    if (r.soak) {
        soak = *r.soak;
        soak_judged = monitor_judge(*r.soak);
        ran.soak = &soak, ran.soak_judged = &soak_judged;
    }
    return buffers_row_of(ran, size, server, 64);
}

buffers_row safe_row(int64_t size, double latency) { return row_of(size_session(latency, 0, 0, 0), size, size); }

// A sweep with these rows and the gate (-1: none), judged.
check_verdict judged(std::vector<buffers_row> rows, double max_latency_ms)
{
    buffers_outcome o;
    o.plan.max_latency_ms = max_latency_ms;
    o.rows = std::move(rows);
    o.end = buffers_end_of(o, false, {});
    const mode_judgement j = buffers_judge(o);
    const mode_judgement* all[] = {&j};
    return verdict_fold(all);
}

}  // namespace

TEST(LoopcheckBuffers, OptionsAreCheckedBeforeAnythingIsTouched)
{
    const std::vector<std::vector<std::string>> bad = {{"--buffers", "0"},
                                                       {"--buffers", "-64"},
                                                       {"--buffers", "65537"},
                                                       {"--buffers", "nan"},
                                                       {"--buffers", "inf"},
                                                       {"--buffers", ""},
                                                       {"--buffers", "64,"},
                                                       {"--buffers", "64,64"},
                                                       {"--buffers", "64.5"},
                                                       {"--buffers", "64;128"},
                                                       {"--buffers", "1e999"},
                                                       {"--buffers", "64", "--load", "96"},
                                                       {"--buffers", "64", "--load", "-1"},
                                                       {"--buffers", "64", "--load", "nan"},
                                                       {"--buffers", "64", "--soak", "0"},
                                                       {"--buffers", "64", "--soak", "1"},
                                                       {"--buffers", "64", "--soak", "1.9s"},
                                                       {"--buffers", "64", "--soak", "nan"},
                                                       {"--buffers", "64", "--soak", "infs"},
                                                       {"--buffers", "64", "--max-latency-ms", "nan"},
                                                       {"--buffers", "64", "--max-latency-ms", "0"},
                                                       {"--buffers", "64", "-b", "64"},
                                                       {"--buffers", "64", "--monitor", "10s"},
                                                       {"--buffers", "64", "--quality"},
                                                       {"--buffers", "64", "--expect", "600"},
                                                       {"--buffers", "64", "--response", "r.csv"},
                                                       {"--buffers", "64", "--ir", "ir.wav"},
                                                       {"--soak", "10"},
                                                       {"--load", "50"},
                                                       {"--max-latency-ms", "10"}};
    for (const auto& words : bad) {
        std::string line;
        for (const std::string& w : words)
            line += w + " ";
        EXPECT_EQ(loopcheck_parse(words).next, options_next::refused) << line;
    }
    struct good {
        std::vector<std::string> words;
        std::vector<int64_t> sizes;
        bool all;
        double soak_s, load, max_ms;
    };
    const good goods[] = {
        {{"--buffers", "32,64,128,256,512,1024"}, {32, 64, 128, 256, 512, 1024}, false, 10.0, 0.0, -1.0},
        {{"--buffers", "all", "--soak", "2m", "--load", "70"}, {}, true, 120.0, 70.0, -1.0},
        {{"--buffers", "1,65536", "--soak", "3", "--max-latency-ms", "10", "--load", "95"},
         {1, 65536},
         false,
         3.0,
         95.0,
         10.0},
    };
    for (const good& g : goods) {
        const parsed_command p = loopcheck_parse(g.words);
        ASSERT_EQ(p.next, options_next::measure) << g.words[1] << ": " << p.refusal;
        const buffers_plan& o = p.plan<buffers_plan>("buffers");
        EXPECT_EQ(o.sizes, g.sizes);
        EXPECT_EQ(o.all, g.all);
        EXPECT_EQ(o.soak_s, g.soak_s);
        EXPECT_EQ(o.load_percent, g.load);
        EXPECT_EQ(o.max_latency_ms, g.max_ms);
        EXPECT_EQ(std::any_cast<const monitor_plan&>(o.monitor).duration_s, g.soak_s);
    }
}

// The soak's own range and words: never the monitor's (its 1 s and its
// "0 for until Ctrl-C", which the soak does not take), and none so short that
// it would check next to nothing (a soak checks from some 0.6 s after it starts).
TEST(LoopcheckBuffers, TheSoakIsRefusedInItsOwnWords)
{
    const char* const refused[] = {"0.5", "0", "1", "1001h"};
    for (const char* soak : refused) {
        SCOPED_TRACE(soak);
        const parsed_command p = loopcheck_parse({"--buffers", "256", "--soak", soak});
        EXPECT_EQ(p.next, options_next::refused);
        EXPECT_EQ(p.refusal,
                  "--soak: \"" + std::string(soak) +
                      "\" is outside 2 s to 1000 h (a soak checks the loop from some 0.6 s after it starts)");
    }
    const parsed_command p = loopcheck_parse({"--buffers", "256", "--soak", "2"});
    ASSERT_EQ(p.next, options_next::measure);
    EXPECT_EQ(p.plan<buffers_plan>("buffers").soak_s, 2.0);
}

TEST(LoopcheckBuffers, ASizesRunBecomesItsRow)
{
    struct row {
        const char* what;
        size_ran session;
        int64_t server;
        bool measured, soaked, safe;
        int64_t granted, glitches;
        const char* reason_has;
    };
    size_ran no_loop;
    no_loop.latency.end = {true, check_status::no_loop, "no loop found", ""};
    size_ran weak = size_session(364.0, 0, 0, 0);
    weak.soak->end = {false, check_status::no_loop, "the loop is too weak for --monitor", ""};
    size_ran cut = size_session(364.0, 0, 0, 0, 4.0);
    cut.soak->end.failure = check_status::interrupted, cut.soak->end.reason = "interrupted";
    size_ran lost = size_session(364.0, 0, 0, 0);
    lost.soak->progress.summary.aligned = false;
    size_ran unsoaked = size_session(364.0, 0, 0, 0);
    unsoaked.soak.reset();
    // A soak that checked 0.3 s of the loop (a 1 s soak, the detector locked
    // on after 0.7 s): too little to call the size safe, and its row says so.
    size_ran short_soak = size_session(364.0, 0, 0, 0, 0.3);
    const row rows[] = {
        {"clean on a server", size_session(364.0, 0, 0, 0), 64, true, true, true, 64, 0, ""},
        {"the stream's own buffer", size_session(364.0, 0, 0, 0), 0, true, true, true, 64, 0, ""},
        {"glitches", size_session(364.0, 10, 10, 0), 64, true, true, false, 64, 20, ""},
        {"an xrun alone", size_session(364.0, 0, 0, 1), 64, true, true, false, 64, 0, ""},
        {"no loop", no_loop, 64, false, false, false, 64, 0, "no loop found"},
        {"too weak to soak", weak, 64, true, false, false, 64, 0, "too weak"},
        {"soak cut short", cut, 64, true, false, false, 64, 0, "ended early"},
        {"stimulus never found", lost, 64, true, true, false, 64, 0, "never came back"},
        {"never soaked", unsoaked, 64, true, false, false, 64, 0, "it never began"},
        {"a soak too short to judge", short_soak, 64, true, true, false, 64, 0,
         "not judged: the soak checked 0.3 s of the loop"},
    };
    for (const row& r : rows) {
        const buffers_row s = row_of(r.session, 64, r.server);
        EXPECT_EQ(s.requested, 64) << r.what;
        EXPECT_EQ(s.granted, r.granted) << r.what;
        EXPECT_EQ(s.measured, r.measured) << r.what;
        EXPECT_EQ(s.soaked, r.soaked) << r.what;
        EXPECT_EQ(buffers_row_safe(s), r.safe) << r.what;
        EXPECT_EQ(s.glitches, r.glitches) << r.what;
        EXPECT_NE(s.reason.find(r.reason_has), std::string::npos) << r.what << ": " << s.reason;
        if (r.measured) {
            EXPECT_EQ(s.latency_frames, 364.0) << r.what;
            EXPECT_NEAR(buffers_row_ms(s), 364.0 / 48.0, 1e-12) << r.what;
        }
    }
    // The short soak's line and table row say it is not judged, never "safe".
    const buffers_row s = row_of(short_soak, 64, 64);
    EXPECT_NE(buffers_row_text(s).find("· not judged: the soak checked 0.3 s"), std::string::npos)
        << buffers_row_text(s);
    buffers_outcome o;
    o.rows = {s};
    const std::string table = buffers_text(o, {}, text_part::report);
    EXPECT_NE(table.find("  not judged\n"), std::string::npos) << table;
    EXPECT_NE(table.find("smallest safe buffer: none"), std::string::npos) << table;
}

TEST(LoopcheckBuffers, TheSmallestSafeBufferAndTheGate)
{
    // 64 and 128 glitch; 256 (556 frames, 11.583 ms) and 512 (812 frames, 16.917 ms) are safe.
    const std::vector<buffers_row> table = {row_of(size_session(364.0, 10, 10, 0), 64, 64),
                                            row_of(size_session(428.0, 5, 5, 2), 128, 128), safe_row(512, 812.0),
                                            safe_row(256, 556.0)};
    buffers_outcome f;
    f.rows = table;
    ASSERT_NE(buffers_smallest_safe(f), nullptr);
    EXPECT_EQ(buffers_smallest_safe(f)->granted, 256);
    struct gate {
        double max_ms;
        check_status status;
    };
    for (const gate& g : {gate{-1.0, check_status::ok}, gate{12.0, check_status::ok}, gate{11.59, check_status::ok},
                          gate{11.58, check_status::max_latency}, gate{5.0, check_status::max_latency}}) {
        const check_verdict v = judged(table, g.max_ms);
        EXPECT_EQ(v.status, g.status) << g.max_ms;
        EXPECT_EQ(verdict_exit_code(v), g.status == check_status::ok ? 0 : 5) << g.max_ms;
        if (g.status == check_status::max_latency) {
            EXPECT_NE(verdict_message(v).find("256 frames"), std::string::npos) << verdict_message(v);
        }
    }
    // Nothing safe: the gate fails and says so; without it the sweep still ends measured.
    const std::vector<buffers_row> unsafe(table.begin(), table.begin() + 2);
    EXPECT_EQ(judged(unsafe, 100.0).status, check_status::max_latency);
    EXPECT_NE(verdict_message(judged(unsafe, 100.0)).find("no size was glitch-free"), std::string::npos);
    EXPECT_EQ(judged(unsafe, -1.0).status, check_status::ok);
}

TEST(LoopcheckBuffers, TheSweepsOwnEnd)
{
    buffers_row refused;
    refused.requested = 64, refused.refused = true, refused.reason = "the JACK server refused 64 frames";
    buffers_row unmeasured;
    unmeasured.requested = 128, unmeasured.reason = "no loop found";
    const mode_end no_loop{true, check_status::no_loop, "no loop found", ""};
    struct row {
        const char* what;
        std::vector<buffers_row> rows;
        bool interrupted;
        std::string restore_problem;
        check_status status;
        const char* words;
    };
    const row rows[] = {
        {"every size refused", {refused, refused}, false, "", check_status::error, "cannot change the buffer size"},
        {"one refused among measured", {refused, safe_row(256, 556.0)}, false, "", check_status::ok, ""},
        {"none measured", {unmeasured, unmeasured}, false, "", check_status::no_loop, "no loop found"},
        {"interrupted", {safe_row(256, 556.0)}, true, "", check_status::interrupted, "interrupted"},
        {"all measured", {safe_row(256, 556.0), safe_row(512, 812.0)}, false, "", check_status::ok, ""},
        {"the size not put back",
         {safe_row(256, 556.0)},
         false,
         "the JACK server did not return to 256 frames",
         check_status::error,
         "did not return to 256"},
    };
    for (const row& r : rows) {
        buffers_outcome f;
        f.rows = r.rows;
        f.restore_problem = r.restore_problem;
        const mode_end end = buffers_end_of(f, r.interrupted, no_loop);
        EXPECT_EQ(end.failure, r.status) << r.what;
        EXPECT_NE(end.reason.find(r.words), std::string::npos) << r.what << ": " << end.reason;
    }
}

// What a reviewer reads: the text table, the JSON and the report's section
// say the same rows, the smallest safe buffer and that the server's size was
// put back; -q the smallest safe buffer alone.
TEST(LoopcheckBuffers, TheRenderersSayTheSameTable)
{
    test_session s;
    buffers_outcome b;
    b.plan.max_latency_ms = 12.0, b.plan.soak_s = 10.0;
    b.facts = test_facts();
    b.server_wide = true, b.server = "the JACK server", b.original = 256, b.restored = true;
    b.rows = {row_of(size_session(364.0, 2, 3, 1), 64, 64), safe_row(256, 556.0)};
    b.end = buffers_end_of(b, false, {});
    s.buffers = b;
    const session_result r = test_result(s);
    const check_verdict v = test_verdict(r);
    ASSERT_EQ(v.status, check_status::ok);
    const std::string text = report_text(r, v);
    for (const char* words : {"smallest safe buffer: 256 frames, round trip 556.000", "NOT SAFE", "  safe",
                              "was 256 frames; the sweep set it to each size and put it back to 256"})
        EXPECT_NE(text.find(words), std::string::npos) << words << " in\n" << text;
    const nlohmann::json j = nlohmann::json::parse(report_json(r, v));
    EXPECT_EQ(j["smallest_safe_buffer"]["granted"], 256);
    EXPECT_EQ(j["buffers"][0]["glitches_by_kind"]["inserted"], 3);
    EXPECT_EQ(j["buffers"][0]["xruns"], 1);
    EXPECT_EQ(j["buffers"][0]["safe"], false);
    EXPECT_EQ(j["buffer_sweep"]["restored"], true);
    // The latency --buffers measures size by size: a plain run's keys, empty.
    EXPECT_TRUE(j["runs"].empty() && j["summary"].is_null() && j["buffer"]["granted"].is_null());
    EXPECT_EQ(report_ending(r, v, false, true).out, "256\n");
    const std::string page = report_html(r, v, "today");
    for (const char* words : {"Buffer sweep", "256 frames, round trip 11.583 ms", "put back after the sweep",
                              "2 dropped, 3 inserted", "<svg"})
        EXPECT_NE(page.find(words), std::string::npos) << words;
    EXPECT_EQ(page.find("No impulse response to show"), std::string::npos);
}

namespace {

// A clock's fit as analysis/clock_rate gives it: figures, or too short.
clock_rate clock_of(double ppm, double uncertainty, double span_s)
{
    clock_rate c;
    c.span_s = span_s, c.points = 500, c.segments = 1;
    if (span_s < clock_rate_least_s) {
        c.error = "too short: the stream's clock was timed over " + std::to_string(span_s) + " s, less than 5 s";
        return c;
    }
    c.error = "", c.ppm = ppm, c.ppm_uncertainty = uncertainty, c.rate_hz = 48000.0 * (1.0 + ppm * 1e-6);
    return c;
}

}  // namespace

// Each size's clock is its stream's over the latency and the soak together
// (the soak's reading, the later and longer), the latency's where no soak ran;
// "too short" under 5 s, the same in the table, the line, the JSON and the page.
TEST(LoopcheckBuffers, EachRowsClockAgainstTheSystems)
{
    struct row {
        const char* what;
        clock_rate latency, soak;
        bool soaked;
        const char* words;  // the row's clock in the text and the page
        std::optional<double> ppm;
        const char* reason;  // the JSON's clock_rate_reason, "" for null
    };
    const row rows[] = {
        {"a soak of 10 s", clock_of(0, 0, 1.6), clock_of(1.5, 0.4, 11.6), true, "+1.50 ± 0.40 ppm", 1.5, ""},
        {"a soak that ran fast", clock_of(0, 0, 1.6), clock_of(-48.25, 3.126, 6.0), true, "-48.25 ± 3.13 ppm", -48.25,
         ""},
        {"a soak of 2 s", clock_of(0, 0, 1.6), clock_of(0, 0, 3.6), true, "too short (under 5 s)", std::nullopt,
         "too short (under 5 s)"},
        {"no soak: the latency's own", clock_of(2.0, 9.0, 5.5), clock_of(0, 0, 0), false, "+2.00 ± 9.00 ppm", 2.0, ""},
    };
    for (const row& x : rows) {
        SCOPED_TRACE(x.what);
        size_ran ran = size_session(556.0, 0, 0, 0);
        ran.latency.clock = x.latency;
        ran.soak->clock = x.soak;
        if (!x.soaked)
            ran.soak.reset();
        const buffers_row r = row_of(ran, 256, 256);
        EXPECT_EQ(r.clock.error.empty(), x.ppm.has_value());
        test_session s;
        buffers_outcome b;
        b.plan.soak_s = 10.0, b.facts = test_facts();
        b.rows = {r};
        b.end = buffers_end_of(b, false, {});
        s.buffers = b;
        const session_result result = test_result(s);
        const check_verdict v = test_verdict(result);
        const std::string text = report_text(result, v), line = buffers_row_text(r);
        if (x.soaked) {
            EXPECT_NE(text.find(std::string(x.words) + "  safe\n"), std::string::npos) << text;
            EXPECT_NE(text.find("xruns clock against system's\n"), std::string::npos) << text;
            EXPECT_NE(line.find(" · clock " + std::string(x.words) + " · safe"), std::string::npos) << line;
        }
        const nlohmann::json j = nlohmann::json::parse(report_json(result, v))["buffers"][0];
        if (x.ppm) {
            EXPECT_EQ(j["clock_rate"]["ppm"], *x.ppm);
            EXPECT_TRUE(j["clock_rate_reason"].is_null());
        } else {
            EXPECT_TRUE(j["clock_rate"].is_null());
            EXPECT_EQ(j["clock_rate_reason"], x.reason);
        }
        if (x.soaked) {
            EXPECT_NE(report_html(result, v, "today").find("clock " + std::string(x.words)), std::string::npos);
        }
    }
}

namespace {

// ---- the mode offline: a fake server and a scripted loop ---------------------------

// A JACK server as the seam sees it: its size, the sizes it refuses, one it
// rounds, and whether it ignores the JACK API (PipeWire with a forced quantum).
struct fake_server {
    bool there = true;
    int64_t size = 256;
    std::set<int64_t> refuses;
    int64_t rounds_from = 0, rounds_to = 0;
    std::vector<int64_t> asked;  // every size asked, in order
    bool restored_asked = false;
    int64_t now = 0;
} server;

const server_buffer_backend fake_backend{[] { return server.there ? static_cast<void*>(&server) : nullptr; },
                                         [](void*) { return server.size; },
                                         [](void*, int64_t frames) {
                                             server.asked.push_back(frames);
                                             if (server.refuses.count(frames))
                                                 return -1;
                                             server.size = frames == server.rounds_from ? server.rounds_to : frames;
                                             return 0;
                                         },
                                         [](void*) {},
                                         [] { return std::string(); },
                                         [](const std::string&) { return false; },
                                         [] { return server.now; },
                                         [](int64_t ms) { server.now += ms; }};

// The loop: a cycle of the server's period at a time, each input frame the
// answer to what was played period + 300 frames before; the wait and the
// pause both run it on. Ctrl-C once the sweep reaches stop_at_size.
class scripted_sweep {
public:
    scripted_sweep(stream& s, int64_t stop_at_size) : s_(s), stop_at_(stop_at_size) {}

    bool wait(int64_t until)
    {
        while (stream_frames_done(s_) < until)
            cycle();
        return !interrupted.load();
    }
    void pause(int64_t ms)
    {
        now_ms_ += ms;
        while (static_cast<double>(stream_frames_done(s_)) < static_cast<double>(now_ms_ - started_ms_) * rate / 1000.0)
            cycle();
    }
    int64_t now_ms() const { return now_ms_; }
    std::atomic<bool> interrupted{false};

private:
    void cycle()
    {
        const int64_t first = stream_frames_done(s_);
        if (first == 0) {
            // The stream opened again: the loop's memory and the clock start over.
            played_.clear();
            started_ms_ = now_ms_;
        }
        const int64_t period = server.there ? server.size : 256;
        if (stop_at_ > 0 && period == stop_at_)
            interrupted.store(true);
        std::vector<float> in(static_cast<size_t>(period)), out(static_cast<size_t>(period));
        for (int64_t i = 0; i < period; i++) {
            const int64_t source = first + i - (period + 300);
            in[static_cast<size_t>(i)] =
                source >= 0 && source < static_cast<int64_t>(played_.size()) ? 0.5f * played_[source] : 0.0f;
        }
        stream_script_cycle(s_, in.data(), out.data(), period, 0);
        played_.insert(played_.end(), out.begin(), out.end());
    }
    stream& s_;
    int64_t stop_at_;
    std::vector<float> played_;
    int64_t now_ms_ = 0, started_ms_ = 0;
};

// The sweep of the words given, run on the scripted loop behind a fake
// server; Ctrl-C at stop_at_size (0: never).
buffers_outcome sweep(const std::vector<std::string>& words, int64_t stop_at_size = 0)
{
    const parsed_command p = loopcheck_parse(words);
    EXPECT_EQ(p.next, options_next::measure) << p.refusal;
    buffers_plan plan = p.plan<buffers_plan>("buffers");
    plan.server = &fake_backend;
    std::any any = plan;
    const stream_ptr s = stream_script_open(rate, false);
    const mode_row& mode = test_mode("buffers");
    EXPECT_EQ(mode.prepare(any, *s), "");
    stream_start(*s);
    scripted_sweep loop(*s, stop_at_size);
    mode_run run{*s,
                 [&loop](int64_t until) { return loop.wait(until); },
                 &loop.interrupted,
                 {[&loop] { return loop.now_ms(); }, [&loop](int64_t ms) { loop.pause(ms); }},
                 {}};
    return std::any_cast<buffers_outcome>(mode.run(any, {}, run));
}

}  // namespace

// At each size the server is set, the stream opened again at it, the latency
// read as the period plus 300 frames, the soak clean; a size the server
// refuses or rounds is said so; the server's size is put back; Ctrl-C ends
// the sweep with the rows measured, the size put back all the same.
TEST(LoopcheckBuffers, TheSweepRunsEachSizeBehindTheSeam)
{
    struct row {
        const char* what;
        bool server_there;
        std::set<int64_t> refuses;
        int64_t rounds_from, rounds_to;
        std::vector<std::string> words;
        int64_t stop_at;
        std::vector<int64_t> granted;  // per row; -1 for a refused one, -2 for one cut short
        check_status status;
    };
    const row rows[] = {
        {"two sizes", true, {}, 0, 0, {"--buffers", "128,512", "--soak", "2"}, 0, {128, 512}, check_status::ok},
        {"one refused", true, {96}, 0, 0, {"--buffers", "96,512", "--soak", "2"}, 0, {-1, 512}, check_status::ok},
        {"one rounded", true, {}, 100, 128, {"--buffers", "100", "--soak", "2"}, 0, {128}, check_status::ok},
        {"every size refused",
         true,
         {64, 96},
         0,
         0,
         {"--buffers", "64,96", "--soak", "2"},
         0,
         {-1, -1},
         check_status::error},
        {"no server: the stream's own buffer",
         false,
         {},
         0,
         0,
         {"--buffers", "128", "--soak", "2"},
         0,
         {256},
         check_status::ok},
        {"Ctrl-C at the second size",
         true,
         {},
         0,
         0,
         {"--buffers", "128,512,1024", "--soak", "2"},
         512,
         {128, -2},
         check_status::interrupted},
    };
    for (const row& x : rows) {
        SCOPED_TRACE(x.what);
        server = fake_server{};
        server.there = x.server_there, server.refuses = x.refuses;
        server.rounds_from = x.rounds_from, server.rounds_to = x.rounds_to;
        const buffers_outcome o = sweep(x.words, x.stop_at);
        const mode_judgement j = buffers_judge(o);
        const mode_judgement* all[] = {&j};
        const check_verdict v = verdict_fold(all);
        EXPECT_EQ(v.status, x.status) << verdict_message(v);
        ASSERT_EQ(o.rows.size(), x.granted.size());
        for (size_t i = 0; i < o.rows.size(); i++) {
            const buffers_row& r = o.rows[i];
            SCOPED_TRACE(r.requested);
            EXPECT_EQ(r.refused, x.granted[i] == -1) << r.reason;
            if (x.granted[i] == -2) {
                EXPECT_FALSE(r.measured);
                EXPECT_EQ(r.failure, check_status::interrupted);
                EXPECT_EQ(r.reason, "loopcheck: interrupted");
            }
            if (x.granted[i] < 0)
                continue;
            EXPECT_EQ(r.granted, x.granted[i]);
            // The scripted loop's round trip: the period plus 300 frames, whatever size was asked.
            EXPECT_NEAR(r.latency_frames, static_cast<double>(x.granted[i] + 300), 0.01) << r.reason;
            EXPECT_TRUE(buffers_row_safe(r)) << r.reason;
            EXPECT_GT(r.soak_s, 1.0);
        }
        EXPECT_EQ(o.server_wide, x.server_there);
        if (x.server_there) {
            EXPECT_EQ(server.size, 256);
            EXPECT_TRUE(o.restored);
            EXPECT_EQ(o.original, 256);
            EXPECT_EQ(server.asked.back(), 256);  // the size put back last
        }
    }
}
