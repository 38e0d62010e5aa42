// The buffer sweep (--buffers): its options checked before any device is
// touched, a size's session made into its row, the smallest safe buffer and
// the --max-latency-ms gate, the sweep's own end, and the callback's --load.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/loopcheck_parse.hpp"
#include "loopcheck/io/stream_load.hpp"
#include "loopcheck/io/stream_state.hpp"
#include "loopcheck/options/options.hpp"
#include "loopcheck/report/report_html.hpp"
#include "loopcheck/report/sweep_report.hpp"
#include "loopcheck/verdict/sweep_rows.hpp"
#include "loopcheck/verdict/verdict.hpp"

namespace {

// options_parse on "loopcheck" and words, its standard error kept apart.
options_next sweep_parse(const std::vector<std::string>& words, check_options& o)
{
    return loopcheck_parse(words, o).next;
}

// A size's session whose latency stood at latency frames, and whose soak ran
// soak_s seconds at 48 kHz with the glitches and xruns given.
check_report size_session(double latency, int64_t dropped, int64_t inserted, int64_t xruns, double soak_s = 10.0)
{
    check_report r;
    r.rate = 48000.0;
    r.in_name = r.out_name = "scripted";
    r.setup.ran = r.latency.ran = r.watch.ran = true;
    run_report x;
    x.result.loop = true, x.result.latency = latency, x.result.latency_uncertainty = 0.0001;
    x.result.snr_db = 80.0, x.result.input_peak = 0.25;
    r.runs = {x};
    r.buffer_granted = 64;
    monitor_progress& p = r.monitor_end;
    p.rate = 48000.0;
    p.summary.aligned = true;
    p.summary.frames_checked = std::lrint(soak_s * 48000.0);
    p.summary.by_kind[static_cast<size_t>(monitor_kind::dropped)] = dropped;
    p.summary.by_kind[static_cast<size_t>(monitor_kind::inserted)] = inserted;
    p.summary.events = dropped + inserted;
    p.xruns = xruns;
    return r;
}

sweep_row safe_row(int64_t size, double latency) { return sweep_row_of(size_session(latency, 0, 0, 0), size, size); }

// A sweep's record with these rows and the gate (-1: none), judged.
check_verdict judged(std::vector<sweep_row> rows, double max_latency_ms)
{
    check_report r;
    r.options.sweep.on = r.sweep.on = true;
    r.options.sweep.max_latency_ms = max_latency_ms;
    r.sweep.rows = std::move(rows);
    r.buffers = sweep_end_of(r.sweep, false, {});
    return verdict_judge(r);
}

// The scripted clock the load spins on: each reading a microsecond on.
int64_t script_ns = 0;
int64_t script_clock() { return script_ns += 1000; }

}  // namespace

TEST(LoopcheckSweep, OptionsAreCheckedBeforeAnythingIsTouched)
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
        check_options o;
        std::string line;
        for (const std::string& w : words)
            line += w + " ";
        EXPECT_EQ(sweep_parse(words, o), options_next::refused) << line;
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
        check_options o;
        ASSERT_EQ(sweep_parse(g.words, o), options_next::measure) << g.words[1];
        EXPECT_TRUE(o.sweep.on);
        EXPECT_EQ(o.sweep.sizes, g.sizes);
        EXPECT_EQ(o.sweep.all, g.all);
        EXPECT_EQ(o.sweep.soak_s, g.soak_s);
        EXPECT_EQ(o.sweep.load_percent, g.load);
        EXPECT_EQ(o.sweep.max_latency_ms, g.max_ms);
    }
}

// The soak's own range and words: never the monitor's (its 1 s and its
// "0 for until Ctrl-C", which the soak does not take), and none so short that
// it would check next to nothing (a soak checks from some 0.6 s after it starts).
TEST(LoopcheckSweep, TheSoakIsRefusedInItsOwnWords)
{
    const char* const refused[] = {"0.5", "0", "1", "1001h"};
    for (const char* soak : refused) {
        SCOPED_TRACE(soak);
        check_options o;
        const parsed_command p = loopcheck_parse({"--buffers", "256", "--soak", soak}, o);
        EXPECT_EQ(p.next, options_next::refused);
        EXPECT_EQ(p.refusal,
                  "--soak: \"" + std::string(soak) +
                      "\" is outside 2 s to 1000 h (a soak checks the loop from some 0.6 s after it starts)");
    }
    check_options o;
    EXPECT_EQ(loopcheck_parse({"--buffers", "256", "--soak", "2"}, o).next, options_next::measure);
    EXPECT_EQ(o.sweep.soak_s, 2.0);
}

TEST(LoopcheckSweep, ASizesSessionBecomesItsRow)
{
    struct row {
        const char* what;
        check_report session;
        int64_t server;
        bool measured, soaked, safe;
        int64_t granted, glitches;
        const char* reason_has;
    };
    check_report no_loop;
    no_loop.setup.ran = no_loop.latency.ran = true;
    no_loop.latency.failure = check_status::no_loop, no_loop.latency.reason = "no loop found";
    check_report weak = size_session(364.0, 0, 0, 0);
    weak.watch = {false, check_status::no_loop, "the loop is too weak for --monitor", ""};
    check_report cut = size_session(364.0, 0, 0, 0, 4.0);
    cut.watch.failure = check_status::interrupted, cut.watch.reason = "interrupted";
    check_report lost = size_session(364.0, 0, 0, 0);
    lost.monitor_end.summary.aligned = false;
    const row rows[] = {
        {"clean on a server", size_session(364.0, 0, 0, 0), 64, true, true, true, 64, 0, ""},
        {"the stream's own buffer", size_session(364.0, 0, 0, 0), 0, true, true, true, 64, 0, ""},
        {"glitches", size_session(364.0, 10, 10, 0), 64, true, true, false, 64, 20, ""},
        {"an xrun alone", size_session(364.0, 0, 0, 1), 64, true, true, false, 64, 0, ""},
        {"no loop", no_loop, 64, false, false, false, 64, 0, "no loop found"},
        {"too weak to soak", weak, 64, true, false, false, 64, 0, "too weak"},
        {"soak cut short", cut, 64, true, false, false, 64, 0, "ended early"},
        {"stimulus never found", lost, 64, true, true, false, 64, 0, "never came back"},
    };
    for (const row& r : rows) {
        const sweep_row s = sweep_row_of(r.session, 64, r.server);
        EXPECT_EQ(s.requested, 64) << r.what;
        EXPECT_EQ(s.granted, r.granted) << r.what;
        EXPECT_EQ(s.measured, r.measured) << r.what;
        EXPECT_EQ(s.soaked, r.soaked) << r.what;
        EXPECT_EQ(sweep_row_safe(s), r.safe) << r.what;
        EXPECT_EQ(s.glitches, r.glitches) << r.what;
        EXPECT_NE(s.reason.find(r.reason_has), std::string::npos) << r.what << ": " << s.reason;
        if (r.measured) {
            EXPECT_EQ(s.latency_frames, 364.0) << r.what;
            EXPECT_NEAR(sweep_row_ms(s), 364.0 / 48.0, 1e-12) << r.what;
        }
    }
}

TEST(LoopcheckSweep, TheSmallestSafeBufferAndTheGate)
{
    // 64 and 128 glitch; 256 (556 frames, 11.583 ms) and 512 (812 frames, 16.917 ms) are safe.
    const std::vector<sweep_row> table = {sweep_row_of(size_session(364.0, 10, 10, 0), 64, 64),
                                          sweep_row_of(size_session(428.0, 5, 5, 2), 128, 128), safe_row(512, 812.0),
                                          safe_row(256, 556.0)};
    sweep_facts f;
    f.rows = table;
    ASSERT_NE(sweep_smallest_safe(f), nullptr);
    EXPECT_EQ(sweep_smallest_safe(f)->granted, 256);
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
            EXPECT_NE(v.message.find("256 frames"), std::string::npos) << v.message;
        }
    }
    // Nothing safe: the gate fails and says so; without it the sweep still ends measured.
    const std::vector<sweep_row> unsafe(table.begin(), table.begin() + 2);
    EXPECT_EQ(judged(unsafe, 100.0).status, check_status::max_latency);
    EXPECT_NE(judged(unsafe, 100.0).message.find("no size was glitch-free"), std::string::npos);
    EXPECT_EQ(judged(unsafe, -1.0).status, check_status::ok);
}

TEST(LoopcheckSweep, TheSweepsOwnEnd)
{
    sweep_row refused;
    refused.requested = 64, refused.refused = true, refused.reason = "the JACK server refused 64 frames";
    sweep_row unmeasured;
    unmeasured.requested = 128, unmeasured.reason = "no loop found";
    const mode_end no_loop{true, check_status::no_loop, "no loop found", ""};
    struct row {
        const char* what;
        std::vector<sweep_row> rows;
        bool interrupted;
        check_status status;
        const char* words;
    };
    const row rows[] = {
        {"every size refused", {refused, refused}, false, check_status::error, "cannot change the buffer size"},
        {"one refused among measured", {refused, safe_row(256, 556.0)}, false, check_status::ok, ""},
        {"none measured", {unmeasured, unmeasured}, false, check_status::no_loop, "no loop found"},
        {"interrupted", {safe_row(256, 556.0)}, true, check_status::interrupted, "interrupted"},
        {"all measured", {safe_row(256, 556.0), safe_row(512, 812.0)}, false, check_status::ok, ""},
    };
    for (const row& r : rows) {
        sweep_facts f;
        f.rows = r.rows;
        const mode_end end = sweep_end_of(f, r.interrupted, no_loop);
        EXPECT_EQ(end.failure, r.status) << r.what;
        EXPECT_NE(end.reason.find(r.words), std::string::npos) << r.what << ": " << end.reason;
    }
}

// The callback stays busy for its share of every call at 64 and 1024 frames,
// within 2 % of the share asked, on a clock that moves a microsecond a reading;
// without --load it never reads the clock.
TEST(LoopcheckSweep, TheLoadKeepsTheCallbackBusyForItsShare)
{
    for (const int64_t frames : {int64_t{64}, int64_t{1024}})
        for (const double share : {0.0, 0.1, 0.5, 0.7, 0.95}) {
            auto s = std::make_unique<stream_state>();
            s->clips.push_back({{0.5f}, false});
            stream_prepare(*s, 4096);
            s->load_clock = script_clock, s->load_rate = 48000.0;
            s->load_share.store(share);
            std::vector<float> in(static_cast<size_t>(frames)), out(static_cast<size_t>(frames));
            script_ns = 0;
            for (int call = 0; call < 10; call++)
                stream_callback(in.data(), out.data(), static_cast<unsigned long>(frames), nullptr, 0, s.get());
            const double period_ns = 10.0 * static_cast<double>(frames) * 1e9 / 48000.0;
            const double busy = static_cast<double>(script_ns) / period_ns;
            EXPECT_NEAR(busy, share, 0.02 * share + 1e-12) << frames << " frames at " << share;
            EXPECT_EQ(script_ns > 0, share > 0.0) << frames << " frames at " << share;
        }
}

// What a reviewer reads: the text table, the JSON and the report's section
// say the same rows, the smallest safe buffer and that the server's size was
// put back.
TEST(LoopcheckSweep, TheRenderersSayTheSameTable)
{
    check_report r;
    r.options.sweep.on = r.sweep.on = true;
    r.options.sweep.max_latency_ms = 12.0;
    r.host_api = "JACK Audio Connection Kit", r.in_name = r.out_name = "system", r.rate = 48000.0;
    r.sweep.server_wide = true, r.sweep.server = "the JACK server", r.sweep.original = 256, r.sweep.restored = true;
    r.sweep.soak_s = 10.0;
    r.sweep.rows = {sweep_row_of(size_session(364.0, 2, 3, 1), 64, 64), safe_row(256, 556.0)};
    r.buffers = sweep_end_of(r.sweep, false, {});
    const check_verdict v = verdict_judge(r);
    ASSERT_EQ(v.status, check_status::ok);
    const std::string text = sweep_report_text(r, v);
    for (const char* words : {"smallest safe buffer: 256 frames, round trip 556.000", "NOT SAFE", "  safe",
                              "was 256 frames; the sweep set it to each size and put it back to 256"})
        EXPECT_NE(text.find(words), std::string::npos) << words << " in\n" << text;
    nlohmann::ordered_json j;
    sweep_report_json(r, j);
    EXPECT_EQ(j["smallest_safe_buffer"]["granted"], 256);
    EXPECT_EQ(j["buffers"][0]["glitches_by_kind"]["inserted"], 3);
    EXPECT_EQ(j["buffers"][0]["xruns"], 1);
    EXPECT_EQ(j["buffers"][0]["safe"], false);
    EXPECT_EQ(j["buffer_sweep"]["restored"], true);
    const std::string page = report_html(r, v, "today");
    for (const char* words : {"Buffer sweep", "256 frames, round trip 11.583 ms", "put back after the sweep",
                              "2 dropped, 3 inserted", "<svg"})
        EXPECT_NE(page.find(words), std::string::npos) << words;
}
