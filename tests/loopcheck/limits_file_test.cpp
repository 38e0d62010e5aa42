// The --limits file as the command line reads it: a file that cannot be read
// refused with the system's reason, one that can with what its text holds,
// each on the one line loopcheck prints (exit status 2); the clock's limit
// (clock_rate_ppm) read, refused, judged and written as a JUnit case.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/loopcheck_parse.hpp"
#include "common/loopcheck_session.hpp"
#include "loopcheck/quality/quality.hpp"
#include "loopcheck/report/report_results.hpp"
#include "loopcheck/results/results.hpp"

namespace {

void limits_write(const std::filesystem::path& path, const char* text)
{
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr) << path;
    std::fputs(text, f);
    std::fclose(f);
}

}  // namespace

TEST(LoopcheckLimitsFile, EachRefusalGivesItsReason)
{
    const std::filesystem::path root =
        std::filesystem::path(::testing::TempDir()) / ("loopcheck_limits_" + std::to_string(getpid()));
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root / "a-folder.json");
    limits_write(root / "good.json", R"({"thd_n_db": {"max": -55}, "gain_db": {"min": -0.5, "max": 0.5}})");
    limits_write(root / "typo.json", R"({"thdn_db": {"max": -55}})");
    limits_write(root / "broken.json",
                 "{\n  \"thd_n_db\": {\"max\": -55},\n  \"gain_db\": {\"min\": -0.5}\n  \"x\": 1}\n");
    limits_write(root / "locked.json", R"({"thd_n_db": {"max": -55}})");
    chmod((root / "locked.json").c_str(), 0);
    struct row {
        std::string file;    // under root
        const char* reason;  // a part of the refusal after "--limits PATH: "; "" when read
    };
    std::vector<row> rows = {
        {"good.json", ""},
        {"missing.json", "cannot read: No such file or directory"},
        {"a-folder.json", "cannot read: Is a directory"},
        {"good.json/x.json", "cannot read: Not a directory"},
        {"typo.json", "unknown figure \"thdn_db\" (did you mean \"thd_n_db\"?); the figures are thd_n_db, thd_db, "},
        {"broken.json",
         "not valid JSON at line 4, column 5: syntax error while parsing object - unexpected string "
         "literal; expected '}'"},
    };
    // root reads a file whatever its mode.
    if (geteuid() != 0)
        rows.push_back({"locked.json", "cannot read: Permission denied"});
    for (const row& r : rows) {
        const std::string path = (root / r.file).string();
        SCOPED_TRACE(path);
        const parsed_command p = loopcheck_parse({"--limits", path});
        const options_next next = p.next;
        const std::string& reason = p.refusal;
        if (*r.reason == '\0') {
            EXPECT_EQ(next, options_next::measure) << reason;
            ASSERT_TRUE(p.plans.count("quality"));
            EXPECT_EQ(p.plan<battery_plan>("quality").limits.items.size(), 2u);
        } else {
            EXPECT_EQ(next, options_next::refused);
            EXPECT_EQ(reason.find("--limits " + path + ": " + r.reason), 0u) << reason;
            EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
        }
    }
    std::filesystem::remove_all(root);
}

// clock_rate_ppm in the file's own syntax: a bound either side read; what is
// not a finite number (NaN, infinities, a string, a number past a double)
// refused in words, as a name mistyped; then judged on the stream's figure
// (every loop's) and carried, with its value, unit, bounds and direction, to
// the JUnit case the renderer writes.
TEST(LoopcheckLimitsFile, TheClockRatesLimit)
{
    const std::filesystem::path root =
        std::filesystem::path(::testing::TempDir()) / ("loopcheck_clock_limits_" + std::to_string(getpid()));
    std::filesystem::create_directories(root);
    struct file_row {
        const char* text;
        const char* reason;  // a part of the refusal; "" when read
        std::optional<double> min, max;
    };
    const file_row files[] = {
        {R"({"clock_rate_ppm": {"min": -50, "max": 50}})", "", -50.0, 50.0},
        {R"({"clock_rate_ppm": {"max": 0.5}})", "", std::nullopt, 0.5},
        {R"({"clock_rate_ppm": {"min": -1e-3}, "thd_n_db": {"max": -55}})", "", -1e-3, std::nullopt},
        {R"({"clock_rate_ppm": {"max": NaN}})", "not valid JSON at line 1, column 28", {}, {}},
        {R"({"clock_rate_ppm": {"max": nan}})", "not valid JSON at line 1, column 29", {}, {}},
        {R"({"clock_rate_ppm": {"max": Infinity}})", "not valid JSON at line 1, column 28", {}, {}},
        {R"({"clock_rate_ppm": {"min": -inf}})", "not valid JSON at line 1, column 29", {}, {}},
        {R"({"clock_rate_ppm": {"max": 1e999}})", "number overflow parsing '1e999'", {}, {}},
        {R"({"clock_rate_ppm": {"min": -1e999}})", "number overflow parsing '-1e999'", {}, {}},
        {R"({"clock_rate_ppm": {"max": "50"}})", "clock_rate_ppm.max is not a finite number", {}, {}},
        {R"({"clock_rate_ppm": {"max": true}})", "clock_rate_ppm.max is not a finite number", {}, {}},
        {R"({"clock_rate_ppm": {"min": 50, "max": -50}})", "clock_rate_ppm: min above max", {}, {}},
        {R"({"clock_rate_ppm": 50})", "clock_rate_ppm: not an object", {}, {}},
        {R"({"clock_rate": {"max": 50}})", "unknown figure \"clock_rate\" (did you mean \"clock_rate_ppm\"?)", {}, {}},
        {R"({"clock_rate_ppm": {"within": 50}})", "clock_rate_ppm: unknown limit \"within\"", {}, {}},
    };
    for (const file_row& f : files) {
        SCOPED_TRACE(f.text);
        const std::filesystem::path path = root / "limits.json";
        limits_write(path, f.text);
        const parsed_command p = loopcheck_parse({"--limits", path.string()});
        if (*f.reason != '\0') {
            EXPECT_EQ(p.next, options_next::refused);
            EXPECT_NE(p.refusal.find(f.reason), std::string::npos) << p.refusal;
            EXPECT_EQ(p.refusal.find("--limits " + path.string() + ": "), 0u) << p.refusal;
            continue;
        }
        ASSERT_EQ(p.refusal, "");
        const quality_limits& l = p.plan<battery_plan>("quality").limits;
        const auto clock = std::find_if(l.items.begin(), l.items.end(),
                                        [](const quality_limit& x) { return x.figure == "clock_rate_ppm"; });
        ASSERT_NE(clock, l.items.end());
        EXPECT_EQ(clock->min, f.min);
        EXPECT_EQ(clock->max, f.max);
    }
    std::filesystem::remove_all(root);

    // The judgement: the stream's figure against ±50 ppm, or none where it ran under 5 s.
    struct judged_row {
        const char* what;
        std::optional<double> ppm;
        bool pass;
    };
    const judged_row judged[] = {
        {"inside", 12.5, true},        {"on the upper bound", 50.0, true}, {"on the lower bound", -50.0, true},
        {"just above", 50.001, false}, {"far below", -310.0, false},       {"not taken: under 5 s", {}, false},
    };
    const quality_limits limits = quality_limits_parse(R"({"clock_rate_ppm": {"min": -50, "max": 50}})");
    ASSERT_EQ(limits.error, "");
    for (const judged_row& x : judged) {
        SCOPED_TRACE(x.what);
        battery_outcome o;
        o.end.ran = true;
        quality_outcome& q = o.quality;
        q.ran = true, q.latency_frames = {300.0, 303.0}, q.clock_rate_ppm = x.ppm;
        q.loops.resize(2), q.responses.resize(2);
        const std::vector<quality_figure_set> sets = {quality_outcome_figures(q, 0), quality_outcome_figures(q, 1)};
        EXPECT_EQ(sets[0].count("clock_rate_ppm"), x.ppm ? 1u : 0u);
        q.verdicts = quality_limits_judge(limits.items, sets), q.judged = true;
        const mode_judgement j = test_mode("quality").judge(std::any(o));
        const auto c = std::find_if(j.checks.begin(), j.checks.end(),
                                    [](const mode_check& m) { return m.name == "clock_rate_ppm"; });
        ASSERT_NE(c, j.checks.end());
        EXPECT_EQ(c->value, x.ppm);
        EXPECT_EQ(c->unit, "ppm");
        EXPECT_EQ(c->min, -50.0);
        EXPECT_EQ(c->max, 50.0);
        EXPECT_EQ(c->direction, check_direction::closer);
        EXPECT_EQ(c->result, x.pass ? check_result::pass : check_result::fail);
        const bool outside = std::any_of(j.checks.begin(), j.checks.end(), [](const mode_check& m) {
            return m.name == "limits" && m.words == "outside limits: clock_rate_ppm";
        });
        EXPECT_EQ(outside, !x.pass);

        // The JUnit case the renderer writes from the session's checks.
        test_session s = test_measured();
        s.quality = o;
        const session_result r = test_result(s);
        const std::string xml = results_junit(report_results(r, verdict_rules{}, "suite", {}));
        const size_t at = xml.find("name=\"clock_rate_ppm\"");
        ASSERT_NE(at, std::string::npos) << xml;
        const std::string tail = xml.substr(at, xml.find("</testcase>", at) - at);
        EXPECT_EQ(tail.find("<failure") != std::string::npos, !x.pass) << tail;
    }
}
