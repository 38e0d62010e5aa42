// The text a person reads and where it goes: the latency's block (its
// summary, warnings, the response, the other loops), what the program prints
// at its end on standard output and standard error for each kind of ending
// (-q's number and the reason beside it, a failure of the program's own, a
// live mode's summary, JSON), the program named once, and the report so far
// that a live mode's start shows, which says nothing of a mode not yet ended.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "common/loopcheck_session.hpp"
#include "loopcheck/report/report.hpp"

namespace {

// A measured loop with a monitor that ran and found nothing.
monitor_outcome clean_monitor()
{
    monitor_outcome m;
    m.end.ran = true;
    m.plan.duration_s = 3.0;
    m.progress.rate = 48000.0, m.progress.frames = 144000;
    m.progress.summary.aligned = true;
    m.progress.summary.drift_ppm_uncertainty = -1.0;
    return m;
}

// A battery whose limit on thd_n_db failed.
battery_outcome failed_limits()
{
    battery_outcome b;
    b.end.ran = true;
    b.quality.judged = true;
    b.quality.verdicts.push_back({});
    b.quality.verdicts.back().figure = "thd_n_db", b.quality.verdicts.back().pass = false;
    return b;
}

}  // namespace

TEST(LoopcheckReportText, TheLatencysBlock)
{
    test_session s = test_measured();
    latency_outcome& l = *s.latency;
    l.facts.input_latency_frames = 0.0, l.facts.output_latency_frames = 256.0;
    l.measured.runs[1].result.input_peak = 0.99;  // clipping
    l.measured.runs[1].result.inverted = true;
    l.measured.runs[0].result.snr_db = 21.0;  // weak in run 1
    l.measured.runs[0].dropouts = {"input overflow reported by the host (1 call)"};
    l.plan.out_channels = {1, 2}, l.plan.in_channels = {1, 2};
    l.measured.loops.push_back({2, 2, {test_run_at(603.0)}});
    const std::string text = test_mode("latency").text(l, {}, text_part::report);
    for (const char* line :
         {"summary: 2 runs · latency 600.000 ± 0.001 frames (12.500 ms), min 600.000, max 600.000, sd 0.000 · gain "
          "-6.00 dB · device \"scripted\" (scripted) · 48000 Hz · buffer 256 · reported 256.000 frames by the host API "
          "· "
          "excess 344.000 frames\n",
          "warning: input clipping (peak -0.09 dBFS): the latency stands, the response does not\n",
          "warning: weak signal in run 1: SNR 21 dB (below 30 dB)\n",
          "warning: run 1 retried after a dropout: input overflow reported by the host (1 call)\n",
          "warning: polarity inverted (the latency stands)\n",
          "loop 2 (out 2 → in 2): latency 603.000 ± 0.001 frames (12.562 ms) · gain -6.00 dB · 1 run\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
    // The summary first, the warnings after it, the other loops last.
    EXPECT_EQ(text.find("summary: "), 0u);
    EXPECT_LT(text.find("warning: polarity"), text.find("loop 2 ("));
    // Its warnings alone, for the page's notes.
    EXPECT_EQ(test_mode("latency").text(l, {}, text_part::warnings).find("summary"), std::string::npos);
    // A host's nonsense is no figure.
    l.facts.output_latency_frames = 4294966272.0;
    EXPECT_NE(test_mode("latency")
                  .text(l, {}, text_part::report)
                  .find("reported latency unknown (the host's figure is not one)"),
              std::string::npos);
}

// One excess everywhere, over what the server reports where it is known:
// straight on JACK its ports' latencies (what -I/-O add to: a compensation
// applied there reads 0), elsewhere the host API's; the text names which.
// The summary, each run's line and the JSON's summary and runs agree.
TEST(LoopcheckReportText, TheExcessIsOverTheServersPortsWhereKnown)
{
    struct row {
        const char* what;
        double reported_in, reported_out, server_in, server_out;
        const char* reported;  // the summary's "reported ... · excess ..." words
        double excess;         // 600 less the figures named
    };
    const row rows[] = {
        // jackd's dummy at period 256: ports 256 + 512, PortAudio's a buffer less each side.
        {"the dummy", 0.0, 256.0, 256.0, 512.0, "reported 768.000 frames by JACK's ports · excess -168.000", -168.0},
        // jackd's ALSA backend with -I 150 -O 151 at period 256: its ports carry them.
        {"-I/-O applied", 150.0, 407.0, 406.0, 663.0, "reported 1069.000 frames by JACK's ports · excess -469.000",
         -469.0},
        {"PortAudio (no server figures)", 100.0, 200.0, -1.0, -1.0,
         "reported 300.000 frames by the host API · excess 300.000", 300.0},
        {"one side of the server unknown", 100.0, 200.0, 356.0, -1.0,
         "reported 300.000 frames by the host API · excess 300.000", 300.0},
        {"the server's figure nonsense", 100.0, 200.0, 356.0, 4294966272.0,
         "reported 300.000 frames by the host API · excess 300.000", 300.0},
    };
    for (const row& r : rows) {
        test_session s = test_measured();
        latency_outcome& l = *s.latency;
        l.facts.input_latency_frames = r.reported_in, l.facts.output_latency_frames = r.reported_out;
        l.facts.server_input_frames = r.server_in, l.facts.server_output_frames = r.server_out;
        const std::string text = test_mode("latency").text(l, {}, text_part::report);
        EXPECT_NE(text.find(std::string(r.reported) + " frames\n"), std::string::npos) << r.what << ":\n" << text;
        char run_excess[64];
        std::snprintf(run_excess, sizeof run_excess, " · excess %.3f frames\n", r.excess);
        EXPECT_NE(latency_run_text(l.measured.runs[0], 0, l.facts).find(run_excess), std::string::npos) << r.what;
        nlohmann::ordered_json j;
        test_mode("latency").json(l, {}, j);
        EXPECT_EQ(j["summary"]["excess_frames"], r.excess) << r.what;
        EXPECT_EQ(j["runs"][0]["excess_frames"], r.excess) << r.what;
    }
}

// Every ending, what goes to standard output and what to standard error.
// -q prints the number where it is the loop's, and says on standard error why
// the status is not 0 (the docs' promise: failures still say why).
TEST(LoopcheckReportText, WhatTheEndPrintsAndWhere)
{
    struct row {
        const char* what;
        void (*make)(test_session&);
        bool json, quiet;
        const char* out;  // standard output holds this ("" for nothing at all)
        const char* err;  // standard error is this, exactly
    };
    const row rows[] = {
        {"measured", [](test_session&) {}, false, false, "summary: 2 runs", ""},
        {"-q measured", [](test_session&) {}, false, true, "600.000\n", ""},
        {"-q outside --expect",
         [](test_session& s) { s.latency->plan.expect = true, s.latency->plan.expect_frames = 3000.0; }, false, true,
         "600.000\n", "outside the expected 3000.000 ± 0.500 frames\n"},
        {"-q outside --limits", [](test_session& s) { s.quality = failed_limits(); }, false, true, "600.000\n",
         "outside limits: thd_n_db\n"},
        {"-q no loop",
         [](test_session& s) {
             s.latency->measured.runs.clear();
             s.latency->end.failure = check_status::no_loop,
             s.latency->end.reason = "no loop found within 96000 frames";
         },
         false, true, "", "no loop found within 96000 frames\n"},
        {"a device error",
         [](test_session& s) {
             s.latency.reset();
             s.setup_failure = "no device named like \"usb\" (dravik lists them)";
         },
         false, false, "", "loopcheck: no device named like \"usb\" (dravik lists them)\n"},
        {"a device error, JSON",
         [](test_session& s) {
             s.latency.reset();
             s.setup_failure = "no device";
         },
         true, false, "\"message\":\"loopcheck: no device\"", "loopcheck: no device\n"},
        {"the monitor ran: its summary",
         [](test_session& s) {
             s.monitor = clean_monitor();
             s.latency->plan.expect = true, s.latency->plan.expect_frames = 100.0;
         },
         false, false, "monitor summary: 3.0 s, 144000 frames · 0 glitches", ""},
        {"the monitor ran, -q: its summary all the same", [](test_session& s) { s.monitor = clean_monitor(); }, false,
         true, "monitor summary: 3.0 s", ""},
        {"the monitor ran, JSON: its summary line with the verdict",
         [](test_session& s) {
             s.monitor = clean_monitor();
             s.latency->plan.expect = true, s.latency->plan.expect_frames = 100.0;
         },
         true, false, "\"event\":\"summary\"", ""},
    };
    for (const row& x : rows) {
        SCOPED_TRACE(x.what);
        test_session s = test_measured();
        x.make(s);
        const session_result r = test_result(s);
        const check_verdict v = test_verdict(r);
        const report_end end = report_ending(r, v, x.json, x.quiet);
        if (x.out[0])
            EXPECT_NE(end.out.find(x.out), std::string::npos) << end.out;
        else
            EXPECT_EQ(end.out, "");
        EXPECT_EQ(end.err, x.err);
        EXPECT_EQ((end.out + end.err).find("loopcheck: loopcheck"), std::string::npos);
    }
    // The monitor's summary ends with the verdict's words, and its JSON line carries the status.
    test_session s = test_measured();
    s.monitor = clean_monitor();
    s.latency->plan.expect = true, s.latency->plan.expect_frames = 100.0;
    const session_result r = test_result(s);
    const check_verdict v = test_verdict(r);
    const std::string text = report_ending(r, v, false, false).out;
    EXPECT_EQ(text.find("summary: 2 runs"), std::string::npos) << "the measurement was printed at the start";
    EXPECT_NE(text.rfind("outside the expected 100.000 ± 0.500 frames\n"), std::string::npos) << text;
    const nlohmann::json line = nlohmann::json::parse(report_ending(r, v, true, false).out);
    EXPECT_EQ(line["status"], "outside expected");
    EXPECT_EQ(line["exit_status"], 5);
    EXPECT_FALSE(line.contains("runs"));
}

// The report so far, as a live mode's start shows it: the modes ended, the
// verdict so far, and nothing said of the live mode that has not yet ended
// (every --monitor run once began with "note: --monitor did not run").
TEST(LoopcheckReportText, TheReportSoFarSaysNothingOfAModeNotYetEnded)
{
    test_session s = test_measured();
    s.latency->plan.expect = true, s.latency->plan.expect_frames = 100.0;
    const session_result so_far = test_result(s);  // the monitor asked, not yet ended
    const check_verdict v = test_verdict(so_far);
    const std::string text = report_text(so_far, v);
    EXPECT_EQ(text.find("did not run"), std::string::npos) << text;
    EXPECT_NE(text.find("outside the expected 100.000 ± 0.500 frames\n"), std::string::npos) << text;
    const nlohmann::json j = nlohmann::json::parse(report_json(so_far, v));
    EXPECT_TRUE(j["not_run"].empty()) << j["not_run"];
    EXPECT_EQ(j["status"], "outside expected");
    // A monitor that did end without running is named, with why.
    monitor_outcome refused;
    refused.end = {false, check_status::no_loop, "the loop is too weak for --monitor: its gain is -86.0 dB", ""};
    s.monitor = refused;
    const session_result ended = test_result(s);
    const std::string said = report_text(ended, test_verdict(ended));
    EXPECT_NE(said.find("note: --monitor did not run: the loop is too weak for --monitor"), std::string::npos) << said;
}
