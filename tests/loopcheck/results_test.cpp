// What CI engines read of a run: the JUnit XML (held to the Jenkins xunit
// plugin's junit-10.xsd with xmllint), LAVA's result lines, XML's escaping,
// the exit protocols' table against the conventions, --skip-if-no-loop in the
// verdict's fold, and the session's checks as the renderers get them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "common/loopcheck_session.hpp"
#include "loopcheck/monitor/monitor.hpp"
#include "loopcheck/outcome/exit_protocol.hpp"
#include "loopcheck/report/report_results.hpp"
#include "loopcheck/results/results.hpp"

namespace {

// Whether xml validates against tests/data/junit/junit-10.xsd, with xmllint's words on failure.
bool junit_valid(const std::string& xml, std::string& words)
{
    const std::string base = ::testing::TempDir() + "results_test_" + std::to_string(getpid());
    const std::string file = base + ".xml", log = base + ".log";
    std::ofstream(file) << xml;
    const std::string command = "xmllint --noout --schema " LOOPCABLE_SOURCE_DIR "/tests/data/junit/junit-10.xsd " +
                                file + " >" + log + " 2>&1";
    const int status = std::system(command.c_str());
    std::ifstream in(log);
    words.assign(std::istreambuf_iterator<char>(in), {});
    std::remove(file.c_str()), std::remove(log.c_str());
    return status == 0;
}

size_t count_of(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        n++;
    return n;
}

mode_check figure(const char* name, double value, const char* unit, std::optional<double> min,
                  std::optional<double> max, check_direction d, check_result r = check_result::pass)
{
    mode_check c;
    c.name = name, c.value = value, c.unit = unit, c.min = min, c.max = max, c.direction = d, c.result = r;
    return c;
}

}  // namespace

// Made-up runs: every check a case, the tallies right, failures and skips
// where they belong, and the document valid against junit-10.xsd.
TEST(LoopcheckResults, JunitHoldsEveryCheckAndValidates)
{
    const mode_check latency = figure("latency_frames", 300.02, "frames", 299.5, 300.5, check_direction::closer);
    const mode_check thd =
        figure("thd_n_db", -93.1, "dB", std::nullopt, -96.0, check_direction::lower, check_result::fail);
    const mode_check limits = check_failed("limits", check_status::outside_limits, "outside limits: thd_n_db");
    mode_check drift = figure("drift_ppm", 0.0, "ppm", -1.0, 1.0, check_direction::closer, check_result::skip);
    drift.value.reset();
    const mode_check glitched =
        figure("buffer 64", 1.9, "ms", std::nullopt, std::nullopt, check_direction::lower, check_result::fail);
    const mode_check error = check_failed("stream", check_status::error, "no device named like \"x\" <&> 'y'");
    struct row {
        const char* name;
        results_run run;
        int tests, failures, skipped;
        std::vector<std::string> holds;  // what the document must hold
    };
    const row rows[] = {
        {"a passing latency",
         {"\"loopsim\" on JACK", "bench-1", "2026-12-10T09:00:00Z", {}, {{"latency", true, "", {latency}}}, {}},
         1,
         0,
         0,
         {"<testsuite name=\"&quot;loopsim&quot; on JACK\" tests=\"1\" failures=\"0\" errors=\"0\" skipped=\"0\" "
          "hostname=\"bench-1\" timestamp=\"2026-12-10T09:00:00Z\">",
          "<testcase classname=\"loopcheck.latency\" name=\"latency_frames\">",
          "<property name=\"latency.latency_frames.value\" value=\"300.02\"/>",
          "<property name=\"latency.latency_frames.unit\" value=\"frames\"/>",
          "<property name=\"latency.latency_frames.min\" value=\"299.5\"/>",
          "<property name=\"latency.latency_frames.direction\" value=\"closer\"/>",
          "<system-out>300.02 frames, within 299.5 to 300.5 frames, closer to its bounds&apos; middle is better"}},
        {"a failing limit and a mode not run",
         {"card",
          "",
          "",
          {{"loopcheck.version", "1.0"}},
          {{"latency", true, "", {latency}},
           {"quality", true, "", {thd, limits}},
           {"monitor", false, "unstable: the runs disagree", {}}},
          {{"", "out/report.html"}}},
         4,
         2,
         1,
         {"<property name=\"loopcheck.version\" value=\"1.0\"/>",
          "<failure type=\"outside its bounds\" message=\"quality: thd_n_db -93.1 dB, at most -96 dB, lower is "
          "better\">",
          "<failure type=\"outside limits\" message=\"outside limits: thd_n_db\">outside limits: thd_n_db</failure>",
          "<testcase classname=\"loopcheck.monitor\" name=\"monitor\">",
          "<skipped message=\"unstable: the runs disagree\"/>", "[[ATTACHMENT|out/report.html]]"}},
        {"a drift not checked, a glitching size, a second loop",
         {"card",
          "",
          "",
          {},
          {{"monitor", true, "", {drift}}, {"buffers", true, "", {glitched, latency, latency}}},
          {}},
         4,
         1,
         1,
         {"<skipped message=\"not checked\"/>", "name=\"buffer 64\">", "name=\"latency_frames #2\">",
          "<property name=\"buffers.latency_frames #2.value\" value=\"300.02\"/>"}},
        {"a device error with XML's specials",
         {"x", "", "", {}, {{"session", true, "", {error}}}, {}},
         1,
         1,
         0,
         {"<failure type=\"error\" message=\"no device named like &quot;x&quot; &lt;&amp;&gt; &apos;y&apos;\">"}},
        {"nothing at all", {"", "", "", {}, {}, {}}, 0, 0, 0, {"tests=\"0\" failures=\"0\""}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string xml = results_junit(r.run);
        std::string words;
        EXPECT_TRUE(junit_valid(xml, words)) << words << xml;
        EXPECT_EQ(count_of(xml, "<testcase "), static_cast<size_t>(r.tests)) << xml;
        EXPECT_EQ(count_of(xml, "<failure "), static_cast<size_t>(r.failures)) << xml;
        EXPECT_EQ(count_of(xml, "<skipped "), static_cast<size_t>(r.skipped)) << xml;
        const std::string tally = " tests=\"" + std::to_string(r.tests) + "\" failures=\"" +
                                  std::to_string(r.failures) + "\" errors=\"0\" skipped=\"" +
                                  std::to_string(r.skipped) + "\"";
        EXPECT_NE(xml.find(tally), std::string::npos) << tally << "\n" << xml;
        for (const std::string& part : r.holds)
            EXPECT_NE(xml.find(part), std::string::npos) << part << "\n" << xml;
    }
}

// The glitches' WAVs (--save-glitches) are attachments of the glitches' case
// alone, each once, their paths escaped, the report beside them; a change of
// the clock (no file) or a run without --save-glitches attaches none.
TEST(LoopcheckResults, GlitchWavsAttachedToTheGlitchesCase)
{
    monitor_event drop, zeros, rate;
    drop.frame = 48000, drop.kind = monitor_kind::dropped, drop.frames = 64;
    zeros.frame = 96000, zeros.kind = monitor_kind::zeros, zeros.frames = 480;
    rate.frame = 144000, rate.kind = monitor_kind::rate;
    struct row {
        const char* name;
        std::string save_dir;
        std::vector<std::pair<monitor_event, std::string>> events;
        std::vector<std::string> attached;  // in the glitches' case, in this order
    };
    const row rows[] = {
        {"two glitches and a clock change",
         "out/glitches",
         {{drop, "glitch-0001-1.000s-dropped.wav"}, {rate, ""}, {zeros, "glitch-0002-2.000s-zeros.wav"}},
         {"out/glitches/glitch-0001-1.000s-dropped.wav", "out/glitches/glitch-0002-2.000s-zeros.wav"}},
        {"a folder with XML's specials",
         "a&b <c>",
         {{drop, "glitch-0001-1.000s-dropped.wav"}},
         {"a&amp;b &lt;c&gt;/glitch-0001-1.000s-dropped.wav"}},
        {"no --save-glitches", "", {{drop, ""}}, {}},
        {"no glitch", "out", {}, {}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        monitor_outcome o;
        o.end.ran = true;
        o.plan.save_dir = r.save_dir;
        o.trace = monitor_trace_start(48000.0);
        for (const auto& [e, file] : r.events)
            monitor_trace_event_add(o.trace, e, file);
        o.progress.summary.aligned = true, o.progress.summary.events = static_cast<int64_t>(r.events.size());
        const mode_judgement j = monitor_judge(o);
        const results_run run{"card", "", "", {}, {{"monitor", true, "", j.checks}}, {{"", "out/report.html"}}};
        const std::string xml = results_junit(run);
        std::string words;
        EXPECT_TRUE(junit_valid(xml, words)) << words << xml;
        const size_t glitches = xml.find("name=\"glitches\">"), end = xml.find("</testcase>", glitches);
        ASSERT_NE(glitches, std::string::npos) << xml;
        size_t at = glitches;
        for (const std::string& path : r.attached) {
            const std::string line = "[[ATTACHMENT|" + path + "]]";
            EXPECT_EQ(count_of(xml, line), 1u) << line << "\n" << xml;
            at = xml.find(line, at);
            EXPECT_LT(at, end) << line << " not in the glitches' case, or out of order\n" << xml;
        }
        EXPECT_EQ(count_of(xml, "[[ATTACHMENT|"), r.attached.size() + count_of(xml, "[[ATTACHMENT|out/report.html]]"));
        EXPECT_EQ(count_of(xml.substr(glitches, end - glitches), ".wav]]"), r.attached.size()) << xml;
    }
}

// XML 1.0 holds neither controls nor invalid UTF-8: a device's name with any
// bytes is escaped or replaced, never written as a document no parser reads.
TEST(LoopcheckResults, XmlEscapingKeepsTheDocumentWellFormed)
{
    const struct {
        const char* name;
        std::string in, out;
    } rows[] = {
        {"the five specials", "a<b>&\"c'", "a&lt;b&gt;&amp;&quot;c&apos;"},
        {"tab and newline kept, CR as a reference", "a\tb\nc\rd", "a\tb\nc&#13;d"},
        {"a control replaced", std::string("a\x01") + "b",
         "a\xEF\xBF\xBD"
         "b"},
        {"NUL replaced", std::string("a\0b", 3),
         "a\xEF\xBF\xBD"
         "b"},
        {"two- and four-byte UTF-8 kept", "caf\xC3\xA9 \xF0\x9F\x8E\xB5", "caf\xC3\xA9 \xF0\x9F\x8E\xB5"},
        {"a sequence cut short at the end", "ab\xC3", "ab\xEF\xBF\xBD"},
        {"a lone continuation byte", "a\x80z", "a\xEF\xBF\xBDz"},
        {"an overlong '/'", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"a surrogate", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"U+FFFE, not a character of XML", "\xEF\xBF\xBE", "\xEF\xBF\xBD"},
        {"Latin-1 bytes of an old driver's name", "Ger\xE4t", "Ger\xEF\xBF\xBDt"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(results_xml_escaped(r.in), r.out);
        // And the whole document with it as the suite's name and a check's words parses and validates.
        results_run run{r.in, "", "", {}, {{"session", true, "", {check_failed("stream", check_status::error, r.in)}}},
                        {}};
        std::string words;
        EXPECT_TRUE(junit_valid(results_junit(run), words)) << words;
    }
}

// LAVA's lines: one a check, names and units as words, a measurement only where there is a number.
TEST(LoopcheckResults, LavaLinesOneACheck)
{
    mode_check bound = figure("thd_db", -118.2, "dB", std::nullopt, -100.0, check_direction::lower);
    bound.bound = true;
    mode_check count = figure("glitches", 2.0, "", std::nullopt, 0.0, check_direction::lower, check_result::fail);
    mode_check unmeasured =
        figure("buffer 64", 0.0, "ms", std::nullopt, std::nullopt, check_direction::lower, check_result::skip);
    unmeasured.value.reset();
    const struct {
        const char* name;
        results_run run;
        std::string lines;
    } rows[] = {
        {"figures with units, a count without",
         {"", "", "", {}, {{"quality", true, "", {bound}}, {"monitor", true, "", {count}}}, {}},
         "quality.thd_db pass -118.2 dB\nmonitor.glitches fail 2\n"},
        {"a size not measured, a name with a space, a second of a name",
         {"", "", "", {}, {{"buffers", true, "", {unmeasured, count, count}}}, {}},
         "buffers.buffer_64 skip\nbuffers.glitches fail 2\nbuffers.glitches_2 fail 2\n"},
        {"a mode not run",
         {"", "", "", {}, {{"monitor", false, "the stream never started", {}}}, {}},
         "monitor skip\n"},
        {"a unit with a sign",
         {"", "", "", {}, {{"q", true, "", {figure("level", 1.0, "%FS", {}, {}, {})}}}, {}},
         "q.level pass 1 _FS\n"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(results_lava(r.run), r.lines);
    }
}

// The harnesses' conventions: GNU (automake, meson: 0 pass, 1 fail, 77 skip,
// 99 hard error) and kselftest (0 pass, 1 fail, 4 skip); loopcheck's own
// table unchanged by default. Every status has a row of its own.
TEST(LoopcheckResults, ExitProtocolsFollowTheConventions)
{
    const struct {
        check_status status;
        int loopcheck, gnu, kselftest;
    } rows[] = {
        {check_status::ok, 0, 0, 0},
        {check_status::skipped, 77, 77, 4},
        {check_status::error, 1, 99, 1},
        {check_status::bad_options, 2, 99, 1},
        {check_status::interrupted, 130, 99, 1},
        {check_status::no_loop, 3, 1, 1},
        {check_status::unstable, 4, 1, 1},  // loopcheck's 4 is kselftest's skip: never passed through
        {check_status::outside_limits, 5, 1, 1},
        {check_status::monitor_input, 6, 1, 1},
        {check_status::glitches, 7, 1, 1},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(check_status_of(r.status).json);
        EXPECT_EQ(exit_protocol_code(exit_protocol::loopcheck, r.status), r.loopcheck);
        EXPECT_EQ(exit_protocol_code(exit_protocol::gnu, r.status), r.gnu);
        EXPECT_EQ(exit_protocol_code(exit_protocol::kselftest, r.status), r.kselftest);
    }
    for (const check_status_row& row : check_status_table) {
        SCOPED_TRACE(row.json);
        bool listed = false;
        for (const exit_protocol_row& p : exit_protocol_table)
            listed = listed || p.status == row.status;
        EXPECT_TRUE(listed) << "a status without a row of the exit protocols";
        // Only a skip is ever a skip under the harnesses' conventions.
        EXPECT_EQ(exit_protocol_code(exit_protocol::kselftest, row.status) == 4, row.status == check_status::skipped);
        EXPECT_EQ(exit_protocol_code(exit_protocol::gnu, row.status) == 77, row.status == check_status::skipped);
        EXPECT_EQ(exit_protocol_code(exit_protocol::gnu, row.status) == 0, row.status == check_status::ok);
    }
}

// --skip-if-no-loop in the fold: a bench not set up (no loop, no device of
// that name) is a skip; anything else keeps its status, and an error before
// the skip still wins.
TEST(LoopcheckResults, SkipIfNoLoopMakesTheBenchNotSetUpASkip)
{
    const mode_check no_loop = check_failed("loop_found", check_status::no_loop, "no loop found");
    const mode_check no_device = check_failed("stream", check_status::error, "no device named like \"x\"");
    const mode_check no_server = check_failed("stream", check_status::error, "no device: start a JACK server");
    const mode_check rate = check_failed("stream", check_status::error, "rate 44100 Hz not granted");
    const mode_check report = check_failed("report", check_status::error, "cannot write r.html");
    const mode_check expect = check_failed("latency_frames", check_status::outside_expected, "outside");
    const struct {
        const char* name;
        std::vector<mode_check> checks;
        bool skip;
        check_status status;
    } rows[] = {
        {"no loop, asked", {no_loop}, true, check_status::skipped},
        {"no loop, not asked", {no_loop}, false, check_status::no_loop},
        {"no device of the name", {no_device}, true, check_status::skipped},
        {"no device at all", {no_server}, true, check_status::skipped},
        {"no device, not asked", {no_device}, false, check_status::error},
        {"a rate not granted is the interface's error", {rate}, true, check_status::error},
        {"a report not written comes first", {no_loop, report}, true, check_status::error},
        {"a finding is a finding", {expect}, true, check_status::outside_expected},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        mode_judgement j;
        j.checks = r.checks;
        const mode_judgement* all[] = {&j};
        const check_verdict v = verdict_fold(all, verdict_rules{r.skip});
        EXPECT_EQ(v.status, r.status);
        if (r.status == check_status::skipped) {
            EXPECT_EQ(verdict_message(v).rfind("skip: no ", 0), 0u) << verdict_message(v);
        }
    }
}

// The session's checks as the renderers get them, from outcomes made by hand:
// the loop found and its latency recorded, a failing limit's figure with its
// unit, a mode asked that did not run skipped with its reason, the skip rule
// applied, and the latency left out when --buffers took the session.
TEST(LoopcheckResults, TheSessionsChecksReachTheRenderers)
{
    struct row {
        const char* name;
        test_session session;
        bool skip_if_no_loop;
        std::string lava;
    };
    test_session limits = test_measured();
    battery_outcome b;
    b.end.ran = true;
    b.quality.judged = true;
    b.quality.verdicts.push_back({"thd_n_db", -93.1, false, std::nullopt, -96.0, false});
    limits.quality = b;
    test_session blocked = test_measured();
    blocked.latency->measured.runs = {test_run_at(600.0), test_run_at(605.0)};
    blocked.monitor.emplace();
    blocked.monitor->end = {false, check_status::ok, "unstable: the runs disagree", ""};
    test_session lost = test_measured();
    lost.latency->measured.runs.clear();
    lost.latency->end = {true, check_status::no_loop, "no loop found", ""};
    test_session swept;
    swept.buffers.emplace();
    swept.buffers->end.ran = true;
    const row rows[] = {
        {"a failing limit", limits, false,
         "latency.loop_found pass\nlatency.latency_frames pass 600 frames\nquality.thd_n_db fail -93.1 dB\n"
         "quality.limits fail\n"},
        {"a monitor blocked", blocked, false, "latency.runs_agree fail\nmonitor skip\n"},
        {"no loop, skipped", lost, true, "latency.loop_found skip\n"},
        {"no loop, failed", lost, false, "latency.loop_found fail\n"},
        {"the buffers alone", swept, false, ""},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        const session_result result = test_result(r.session);
        const results_run run = report_results(result, verdict_rules{r.skip_if_no_loop}, "x", {});
        EXPECT_EQ(results_lava(run), r.lava);
    }
}
