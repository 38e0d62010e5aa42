// Baselines and trends on made-up results: which changes regress (the worse way, beyond
// the tolerance and three combined standard uncertainties), which never do (the
// better way, inside the uncertainty, a bound), the words, and a baseline of
// another interface refused unless --baseline-any.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
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
        {"1 frame inside a wide uncertainty (0.6 each: 3 x 0.85)", result(557.0, 0.6, -96.2), {}},
        {"1 frame beyond 3 x 0.2 (the run 0.2 uncertain)", result(557.0, 0.2, -96.2), {"latency_frames"}},
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

namespace {

// A result whose battery holds response rows 1/24 octave apart over 20 Hz ..
// 20 kHz, each loop's level and uncertainty from functions of the frequency.
using level_of = double (*)(double hz);
double level_flat(double) { return 0.0; }
double u_small(double) { return 0.001; }

json with_response(json r, std::vector<std::pair<level_of, level_of>> loops)
{
    json& channels = r["quality"]["channels"];
    for (size_t k = 0; k < loops.size(); k++) {
        json rows = json::array();
        for (int n = -135; n <= 103; n++) {
            const double hz = 1000.0 * std::pow(2.0, n / 24.0);
            rows.push_back({{"hz", hz}, {"level_db", loops[k].first(hz)}, {"uncertainty_db", loops[k].second(hz)}});
        }
        if (k >= channels.size())
            channels.push_back(channels[0]);
        channels[k]["response"] = {{"rows", rows}};
    }
    return r;
}

json response_result(level_of level, level_of u = u_small, level_of level2 = nullptr)
{
    std::vector<std::pair<level_of, level_of>> loops{{level, u}};
    if (level2)
        loops.push_back({level2, u_small});
    return with_response(result(556.0, 0.001, -96.2), loops);
}

// The bands a comparison names regressed, and each one's words.
std::vector<std::string> regressed_words(const json& base, const json& run, const baseline_tolerances& t = {})
{
    std::vector<std::string> words;
    for (const mode_check& c : baseline_checks(base, run, false, t))
        if (c.result == check_result::fail)
            words.push_back(c.words);
    return words;
}

}  // namespace

// The response's mask: each third-octave band's mean level against the
// baseline's, ±0.2 dB, widened to three combined standard uncertainties; either way
// counts (closer is better).
TEST(LoopcheckBaseline, ResponseMask)
{
    const json base = response_result(level_flat);
    baseline_tolerances wide, octaves, broad;
    wide.response_db = 0.6;
    octaves.bands_hz = {20.0, 1000.0, 10000.0, 20000.0};
    broad.figures["thd_n_db"] = 10.0;
    const struct {
        const char* name;
        json run;
        json baseline;
        baseline_tolerances tolerances;
        std::vector<std::string> words;
    } rows[] = {
        {"the same response", base, base, {}, {}},
        {"0.5 dB lower above 10 kHz: the three bands above it",
         response_result([](double hz) { return hz >= 10000.0 ? -0.5 : 0.0; }),
         base,
         {},
         {"regressed: response 10-12.5 kHz -0.50 dB, tolerance 0.20",
          "regressed: response 12.5-16 kHz -0.50 dB, tolerance 0.20",
          "regressed: response 16-20 kHz -0.50 dB, tolerance 0.20"}},
        {"0.5 dB lower above 10 kHz in octave-wide bands of the file's",
         response_result([](double hz) { return hz >= 10000.0 ? -0.5 : 0.0; }),
         base,
         octaves,
         {"regressed: response 10-20 kHz -0.50 dB, tolerance 0.20"}},
        {"0.5 dB lower above 10 kHz inside the file's 0.6 dB",
         response_result([](double hz) { return hz >= 10000.0 ? -0.5 : 0.0; }),
         base,
         wide,
         {}},
        {"0.15 dB lower above 10 kHz: inside 0.2 dB",
         response_result([](double hz) { return hz >= 10000.0 ? -0.15 : 0.0; }),
         base,
         {},
         {}},
        {"0.3 dB higher in 1-1.25 kHz alone: either way counts",
         response_result([](double hz) { return hz >= 1000.0 && hz < 1250.0 ? 0.3 : 0.0; }),
         base,
         {},
         {"regressed: response 1-1.25 kHz +0.30 dB, tolerance 0.20"}},
        {"a dip of 1.2 dB at one row of 2-2.5 kHz: the band's mean of 8 rows 0.15 dB",
         response_result([](double hz) { return std::fabs(hz - 2181.0) < 1.0 ? -1.2 : 0.0; }),
         base,
         {},
         {}},
        {"a run 0.5 dB lower above 10 kHz, 0.3 dB uncertain there, against a baseline alike: 3 x 0.42",
         response_result([](double hz) { return hz >= 10000.0 ? -0.5 : 0.0; },
                         [](double hz) { return hz >= 10000.0 ? 0.3 : 0.001; }),
         response_result(level_flat, [](double hz) { return hz >= 10000.0 ? 0.3 : 0.001; }),
         {},
         {}},
        {"0.5 dB lower above 10 kHz, 0.1 dB uncertain in both: widened to 3 x 0.14",
         response_result([](double hz) { return hz >= 10000.0 ? -0.5 : 0.0; },
                         [](double hz) { return hz >= 10000.0 ? 0.1 : 0.001; }),
         response_result(level_flat, [](double hz) { return hz >= 10000.0 ? 0.1 : 0.001; }),
         {},
         {"regressed: response 10-12.5 kHz -0.50 dB, tolerance 0.42",
          "regressed: response 12.5-16 kHz -0.50 dB, tolerance 0.42",
          "regressed: response 16-20 kHz -0.50 dB, tolerance 0.42"}},
        {"0.5 dB lower above 10 kHz, 0.12 dB uncertain in both: inside 3 x 0.17",
         response_result([](double hz) { return hz >= 10000.0 ? -0.5 : 0.0; },
                         [](double hz) { return hz >= 10000.0 ? 0.12 : 0.001; }),
         response_result(level_flat, [](double hz) { return hz >= 10000.0 ? 0.12 : 0.001; }),
         {},
         {}},
        {"loop 2 lower below 25 Hz, loop 1 the same",
         response_result(level_flat, u_small, [](double hz) { return hz < 25.0 ? -1.0 : 0.0; }),
         response_result(level_flat, u_small, level_flat),
         {},
         {"regressed: response 20-25 Hz loop 2 -1.00 dB, tolerance 0.20"}},
        {"a baseline without rows (made before 1.2): no band compared",
         response_result([](double hz) { return hz >= 10000.0 ? -0.5 : 0.0; }),
         result(556.0, 0.001, -96.2),
         {},
         {}},
        {"THD+N 3 dB worse inside the file's 10 dB, the response the same",
         with_response(result(556.0, 0.001, -93.2), {{level_flat, u_small}}),
         base,
         broad,
         {}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(regressed_words(r.baseline, r.run, r.tolerances), r.words);
    }
    // Every third-octave band from 20 Hz to 20 kHz is compared: 30 beside the 6 figures.
    EXPECT_EQ(baseline_checks(base, base, false).size(), 36u);
    const std::vector<mode_check> checks = baseline_checks(base, response_result(level_flat), false);
    EXPECT_EQ(checks.back().words, "baseline: response 16-20 kHz 0.00 dB, tolerance 0.20");
    EXPECT_EQ(checks.back().unit, "dB");
    EXPECT_EQ(checks.back().direction, check_direction::closer);

    // The text: a line per figure, the bands within the mask in one, naming the nearest its edge.
    const auto lines = [&base](level_of level) {
        std::string text = baseline_lines(baseline_checks(base, response_result(level), false));
        return text.substr(text.find("\nbaseline: response") + 1);
    };
    EXPECT_EQ(lines([](double hz) { return hz >= 10000.0 ? -0.15 : 0.0; }),
              "baseline: response within the mask in 30 bands, the nearest its edge 10-12.5 kHz -0.15 dB, tolerance "
              "0.20\n");
    EXPECT_EQ(
        lines([](double hz) { return hz >= 10000.0 ? -0.5 : 0.0; }),
        "baseline: response within the mask in 27 bands, the nearest its edge 20-25 Hz 0.00 dB, tolerance 0.20\n");
}

// The --tolerances file, in the --limits file's syntax: what it sets, and
// every way it is refused, with the reason's words.
TEST(LoopcheckBaseline, TolerancesFile)
{
    const struct {
        const char* name;
        const char* text;
        const char* error;  // a part of the reason; "" for none
        double thd_n, response;
        size_t edges;
    } rows[] = {
        {"empty object: the defaults", "{}", "", -1.0, 0.2, 31},
        {"a figure and the mask",
         R"({"thd_n_db": {"tolerance": 2}, "response_db": {"tolerance": 0.5, "bands_hz": [20, 1000, 20000]}})", "", 2.0,
         0.5, 3},
        {"a tolerance of 0", R"({"latency_frames": {"tolerance": 0}})", "", -1.0, 0.2, 31},
        {"not JSON", "thd_n_db 2", "not one JSON object", 0, 0, 0},
        {"an array", "[1]", "not one JSON object", 0, 0, 0},
        {"a misspelt figure", R"({"thd_n_dB": {"tolerance": 2}})", "did you mean \"thd_n_db\"", 0, 0, 0},
        {"a bare number", R"({"thd_n_db": 2})", "thd_n_db: not {\"tolerance\": VALUE}", 0, 0, 0},
        {"a limit's min", R"({"thd_n_db": {"tolerance": 2, "min": 1}})", "unknown item \"min\"", 0, 0, 0},
        {"negative", R"({"gain_db": {"tolerance": -0.1}})", "finite number, 0 or more", 0, 0, 0},
        {"1e999: beyond a double, not read", R"({"gain_db": {"tolerance": 1e999}})", "not one JSON object", 0, 0, 0},
        {"a string", R"({"gain_db": {"tolerance": "0.1"}})", "finite number", 0, 0, 0},
        {"bands falling", R"({"response_db": {"tolerance": 0.2, "bands_hz": [20, 10, 30]}})", "rising", 0, 0, 0},
        {"one edge", R"({"response_db": {"tolerance": 0.2, "bands_hz": [20]}})", "two edges or more", 0, 0, 0},
        {"an edge at 0 Hz", R"({"response_db": {"tolerance": 0.2, "bands_hz": [0, 100]}})", "above 0 Hz", 0, 0, 0},
        {"bands_hz on a figure", R"({"gain_db": {"tolerance": 0.2, "bands_hz": [20, 100]}})", "unknown item", 0, 0, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const baseline_tolerances t = baseline_tolerances_parse(r.text);
        if (*r.error) {
            EXPECT_NE(t.error.find(r.error), std::string::npos) << t.error;
            EXPECT_EQ(t.error.rfind("--tolerances: ", 0), 0u) << t.error;
            continue;
        }
        EXPECT_EQ(t.error, "");
        const auto thd_n = t.figures.find("thd_n_db");
        EXPECT_EQ(thd_n == t.figures.end() ? -1.0 : thd_n->second, r.thd_n);
        EXPECT_EQ(t.response_db, r.response);
        EXPECT_EQ(t.bands_hz.size(), r.edges);
    }
    baseline_tolerances read;
    EXPECT_NE(baseline_tolerances_read("/nonexistent/tolerances.json", read).find("cannot read"), std::string::npos);
}
