// Baselines on made-up results: which changes regress (the worse way, beyond
// the tolerance and twice the combined uncertainty), which never do (the
// better way, inside the uncertainty, a bound), the words, and a baseline of
// another interface refused unless --baseline-any.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "loopcheck/baseline/baseline.hpp"

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
        {"dynamic range 2 dB less: higher is better", result(556.0, 0.001, -96.2, false, -6.0, 108.0),
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
        {"a run without the battery: the latency alone", json{{"summary", {{"mean_frames", 556.0}}},
                                                            {"environment", {{"key", "usb:08bb:2902:A1"}}}},
         false, 1, check_status::ok},
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
