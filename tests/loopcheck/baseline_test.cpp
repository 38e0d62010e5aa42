// Baselines and trends on made-up results: which changes regress (the worse way, beyond
// the tolerance and twice the combined uncertainty), which never do (the
// better way, inside the uncertainty, a bound), the words, and a baseline of
// another interface refused unless --baseline-any.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "loopcheck/baseline/baseline.hpp"
#include "loopcheck/baseline/trend.hpp"

namespace {

using json = nlohmann::json;

// A result as loopcheck writes it: the latency's summary, one loop's battery, its identity.
json result(double latency, double uncertainty, double thd_n, bool thd_n_bound = false, double gain = -6.0,
            double range = 110.0, const char* key = "usb:08bb:2902:A1")
{
    json r = {{"program", "loopcheck"},
              {"summary", {{"mean_frames", latency}, {"latency_uncertainty_frames", uncertainty}}},
              {"environment", {{"key", key}}}};
    json tone = {{"thd_n_db", thd_n}, {"thd_n_floor", {{"bound", thd_n_bound}}}, {"thd_db", -100.0}};
    json channel = {{"thd_n", json::array({tone})},
                    {"noise", {{"dbfs", -110.0}}},
                    {"gain_db", gain},
                    {"dynamic_range_db_a", range}};
    r["quality"] = {{"channels", json::array({channel})}};
    return r;
}

}  // namespace

TEST(LoopcheckBaseline, RegressionsAndWhatNeverIs)
{
    const json base = result(556.0, 0.001, -96.2);
    const struct {
        const char* name;
        json run;
        std::vector<std::string> regressed;  // the figures named, in order
    } rows[] = {
        {"the same run", base, {}},
        {"1 frame more delay", result(557.0, 0.001, -96.2), {"latency_frames"}},
        {"1 frame less: a latency is closer-is-better", result(555.0, 0.001, -96.2), {"latency_frames"}},
        {"0.3 frame: within the tolerance", result(556.3, 0.001, -96.2), {}},
        {"1 frame inside a wide uncertainty (0.6 each: 2 x 0.85)", result(557.0, 0.6, -96.2), {}},
        {"THD+N 3 dB worse", result(556.0, 0.001, -93.2), {"thd_n_db"}},
        {"THD+N 3 dB better", result(556.0, 0.001, -99.2), {}},
        {"THD+N 0.9 dB worse: within 1 dB", result(556.0, 0.001, -95.3), {}},
        {"THD+N worse but a bound (under its noise)", result(556.0, 0.001, -90.0, true), {}},
        {"a gain 0.2 dB off", result(556.0, 0.001, -96.2, false, -5.8), {"gain_db"}},
        {"dynamic range 2 dB less: higher is better",
         result(556.0, 0.001, -96.2, false, -6.0, 108.0),
         {"dynamic_range_db_a"}},
        {"dynamic range 2 dB more", result(556.0, 0.001, -96.2, false, -6.0, 112.0), {}},
        {"two at once", result(558.0, 0.001, -90.0), {"latency_frames", "thd_n_db"}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        std::vector<std::string> named;
        int compared = 0;
        for (const mode_check& c : baseline_checks(base, r.run, false)) {
            compared++;
            if (c.result == check_result::fail) {
                EXPECT_EQ(c.fails_with, check_status::regressed);
                EXPECT_EQ(c.words.rfind("regressed: " + c.name + " ", 0), 0u) << c.words;
                named.push_back(c.name);
            }
        }
        EXPECT_EQ(named, r.regressed);
        EXPECT_EQ(compared, 6);  // latency, THD+N, THD, noise, gain, dynamic range: what both have
    }
}

TEST(LoopcheckBaseline, WordsIdentityAndMissingFigures)
{
    const json base = result(556.0, 0.001, -96.2);
    const std::vector<mode_check> checks = baseline_checks(base, result(556.0, 0.001, -93.1), false);
    bool found = false;
    for (const mode_check& c : checks)
        if (c.name == "thd_n_db") {
            found = true;
            EXPECT_EQ(c.words, "regressed: thd_n_db -96.2 → -93.1 dB, tolerance 1");
            EXPECT_EQ(c.unit, "dB");
            EXPECT_EQ(c.max, -95.2);
            EXPECT_FALSE(c.min);
        }
    EXPECT_TRUE(found);

    const struct {
        const char* name;
        json run;
        bool any;
        size_t checks;
        check_status first;
    } rows[] = {
        {"another interface: refused", result(556.0, 0.001, -96.2, false, -6.0, 110.0, "pci:0x8086:0xa348:x:y@0"),
         false, 1, check_status::error},
        {"another interface with --baseline-any", result(556.0, 0.001, -96.2, false, -6.0, 110.0, "pci:x"), true, 6,
         check_status::ok},
        {"a run without the battery: the latency alone",
         json{{"summary", {{"mean_frames", 556.0}}}, {"environment", {{"key", "usb:08bb:2902:A1"}}}}, false, 1,
         check_status::ok},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const std::vector<mode_check> c = baseline_checks(base, r.run, r.any);
        ASSERT_EQ(c.size(), r.checks);
        EXPECT_EQ(c[0].fails_with, r.first);
        if (r.first == check_status::error) {
            EXPECT_NE(c[0].words.find("--baseline-any"), std::string::npos);
        }
    }
}

// The trend: results in any order grouped by identity, ordered by time, each
// point against its group's first; a folder read with files that are not
// loopcheck's counted, not taken.
TEST(LoopcheckTrend, GroupsOrdersAndMarksRegressions)
{
    const auto at = [](json r, const char* time) {
        r["environment"]["time"] = time;
        return r;
    };
    std::vector<trend_result> results = {
        {"b/3.json", at(result(556.0, 0.001, -90.0), "2026-12-03T00:00:00Z")},  // THD+N 6.2 dB worse: regressed
        {"b/1.json", at(result(556.0, 0.001, -96.2), "2026-12-01T00:00:00Z")},
        {"b/2.json", at(result(556.2, 0.001, -96.0), "2026-12-02T00:00:00Z")},
        {"p/1.json", at(result(300.0, 0.001, -80.0, false, -6.0, 110.0, "pci:x"), "2026-12-05T00:00:00Z")},
        {"p/2.json", at(result(301.0, 0.001, -80.0, false, -6.0, 110.0, "pci:x"), "2026-12-04T00:00:00Z")},
    };
    const std::vector<trend_group> groups = trend_of(results);
    ASSERT_EQ(groups.size(), 2u);
    const struct {
        size_t group;
        const char* figure;
        std::vector<std::string> files;
        std::vector<bool> regressed;
    } rows[] = {
        {0, "thd_n_db", {"p/2.json", "p/1.json"}, {false, false}},       // "pci:x" sorts first
        {0, "latency_frames", {"p/2.json", "p/1.json"}, {false, true}},  // the first is 301: 300 is 1 frame off it
        {1, "thd_n_db", {"b/1.json", "b/2.json", "b/3.json"}, {false, false, true}},
        {1, "latency_frames", {"b/1.json", "b/2.json", "b/3.json"}, {false, false, false}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(groups[r.group].key) + " " + r.figure);
        const trend_group& g = groups[r.group];
        const auto s =
            std::find_if(g.series.begin(), g.series.end(), [&r](const trend_series& t) { return t.name == r.figure; });
        ASSERT_NE(s, g.series.end());
        std::vector<std::string> files;
        std::vector<bool> regressed;
        for (const trend_point& p : s->points)
            files.push_back(p.file), regressed.push_back(p.regressed);
        EXPECT_EQ(files, r.files);
        EXPECT_EQ(regressed, r.regressed);
    }
    EXPECT_EQ(groups[1].key, "usb:08bb:2902:A1");
    EXPECT_EQ(groups[1].results, 3u);

    // A folder: two results (one a --monitor --json stream, its start line's measurement), a stranger, a non-JSON.
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(::testing::TempDir()) / ("trend_test_" + std::to_string(::getpid()));
    fs::create_directories(folder / "deep");
    std::ofstream(folder / "a.json") << result(556.0, 0.001, -96.2).dump() << "\n";
    std::ofstream(folder / "deep" / "m.json")
        << json{{"event", "start"}, {"measurement", result(556.0, 0.001, -96.2)}}.dump()
        << "\n{\"event\": \"summary\"}\n";
    std::ofstream(folder / "other.json") << "{\"program\": \"sox\"}\n";
    std::ofstream(folder / "notes.txt") << "not read\n";
    std::vector<trend_result> read;
    size_t unread = 0;
    EXPECT_EQ(trend_read(folder.string(), read, unread), "");
    EXPECT_EQ(read.size(), 2u);
    EXPECT_EQ(unread, 1u);
    const nlohmann::ordered_json j = trend_json(trend_of(read), unread);
    EXPECT_EQ(j["results"], 2);
    EXPECT_EQ(j["trend"][0]["figures"][0]["points"].size(), 2u);
    fs::remove_all(folder);
    EXPECT_NE(trend_read((folder / "gone").string(), read, unread), "");
}
