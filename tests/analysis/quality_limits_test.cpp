// Limits files: what is read, what is refused and why, and the verdict over
// the worst loop.
#include <gtest/gtest.h>

#include <vector>

#include "analysis/quality_limits.hpp"

TEST(QualityLimits, ReadsBoundsAndRefusesWhatIsNotALimit)
{
    struct row {
        const char* text;
        const char* error;  // a part of the error; "" for none
    };
    const row rows[] = {
        {R"({"thd_n_db": {"max": -55}, "gain_db": {"min": -0.5, "max": 0.5}, "response_deviation_db": {"max": 1}})",
         ""},
        {R"({})", ""},
        {R"({"thd_n": {"max": -55}})", "unknown figure \"thd_n\""},
        // An unknown figure: the nearest first when one is close, then every figure.
        {R"({"thdn_db": {"max": -55}})",
         "unknown figure \"thdn_db\" (did you mean \"thd_n_db\"?); the figures are thd_n_db, thd_db, noise_dbfs, "
         "noise_dbfs_a, dynamic_range_db_a, imd_smpte_db, imd_ccif_db, crosstalk_db, gain_db, response_deviation_db, "
         "latency_frames"},
        {R"({"THD_N_DB": {"max": -55}})", "(did you mean \"thd_n_db\"?)"},
        {R"({"gain": {"min": -1}})", "(did you mean \"gain_db\"?)"},
        {R"({"latency": {"max": 700}})", "(did you mean \"latency_frames\"?)"},
        {R"({"crosstalk_bd": {"max": -80}})", "(did you mean \"crosstalk_db\"?)"},
        {R"({"imd_smtpe_db": {"max": -60}})", "(did you mean \"imd_smpte_db\"?)"},
        {R"({"noise": {"max": -90}})", "(did you mean \"noise_dbfs\"?)"},
        {R"({"thd_n_db": {"max": -90}, "wow_db": {"max": 1}})",
         "unknown figure \"wow_db\"; the figures are thd_n_db, thd_db,"},
        {R"({"thd_n_db": {"maximum": -55}})",
         "unknown limit \"maximum\" (did you mean \"max\"?); the limits are min, max"},
        {R"({"thd_n_db": {"mni": -55}})", "thd_n_db: unknown limit \"mni\" (did you mean \"min\"?)"},
        {R"({"thd_n_db": {}})", "neither"},
        {R"({"thd_n_db": -55})", "not an object"},
        {R"({"thd_n_db": {"max": "-55"}})", "thd_n_db.max is not a finite number"},
        {R"({"thd_n_db": {"max": null}})", "not a finite number"},
        // A number beyond a double's range: nlohmann-json refuses it as it
        // parses, without a position; it is found where it stands.
        {R"({"thd_n_db": {"max": 1e999}})", "not valid JSON at line 1, column 22: number overflow parsing '1e999'"},
        {R"({"gain_db": {"min": 1, "max": -1}})", "min above max"},
        // Broken JSON: the line and column where the reading stopped (the
        // last byte read, or just past the end), and nlohmann-json's reason.
        {R"({"thd_n_db": {"max": -55},})",
         "not valid JSON at line 1, column 27: syntax error while parsing object key - unexpected '}'; expected "
         "string literal"},
        {"{\"thd_n_db\": {\"max\": -90", "not valid JSON at line 1, column 25: syntax error while parsing object"},
        // The end of the input: just after its last character, not on the blank lines after it.
        {"{\"thd_n_db\": {\"max\": -90\n\n",
         "not valid JSON at line 1, column 25: syntax error while parsing object - unexpected end of input; "
         "expected '}'"},
        {"{\n  \"thd_n_db\": {\"max\": -55},\n  \"gain_db\": {\"min\": -1}\n  \"thd_db\": {\"max\": -60}\n}\n",
         "not valid JSON at line 4, column 10: syntax error while parsing object - unexpected string literal; "
         "expected '}'"},
        {"{\r\n  \"thd_n_db\": {\"max\": -55,}\r\n}", "not valid JSON at line 2, column 27:"},
        // The column counts characters, not bytes: "\u00b5" is two bytes in UTF-8.
        {"{\"\u00b5\": 1 2}", "not valid JSON at line 1, column 9:"},
        {"{\"thd_n_db\": {\"max\": -55}} x", "not valid JSON at line 1, column 28:"},
        {R"([{"thd_n_db": {"max": -55}}])", "not a JSON object but array"},
        {"", "not valid JSON: the text is empty"},
        {" \n", "not valid JSON: the text is empty"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text);
        const quality_limits l = quality_limits_parse(r.text);
        if (*r.error == 0)
            EXPECT_EQ(l.error, "");
        else
            EXPECT_NE(l.error.find(r.error), std::string::npos) << l.error;
    }
    const quality_limits l = quality_limits_parse(rows[0].text);
    ASSERT_EQ(l.items.size(), 3u);
    // In the keys' order, whatever the file's.
    EXPECT_EQ(l.items[0].figure, "thd_n_db");
    EXPECT_EQ(*l.items[0].max, -55.0);
    EXPECT_FALSE(l.items[0].min.has_value());
    EXPECT_EQ(l.items[1].figure, "gain_db");
    EXPECT_EQ(*l.items[1].min, -0.5);
    EXPECT_EQ(l.items[2].figure, "response_deviation_db");
}

TEST(QualityLimits, JudgesTheWorstLoop)
{
    const quality_limits l = quality_limits_parse(
        R"({"thd_n_db": {"max": -55}, "gain_db": {"min": -0.5, "max": 0.5}, "dynamic_range_db_a": {"min": 90},
            "crosstalk_db": {"max": -80}, "latency_frames": {"max": 1000}})");
    ASSERT_EQ(l.error, "");
    const std::vector<quality_figure_set> loops = {
        {{"thd_n_db", -80.0}, {"gain_db", 0.4}, {"dynamic_range_db_a", 95.0}, {"latency_frames", 619.0}},
        {{"thd_n_db", -54.0}, {"gain_db", -0.45}, {"dynamic_range_db_a", 92.0}, {"latency_frames", 619.0}},
    };
    struct row {
        const char* figure;
        std::optional<double> value;
        bool pass;
    };
    // gain: 0.4 is 0.1 inside its max, -0.45 0.05 inside its min; crosstalk
    // not taken fails.
    // In the keys' order.
    const row rows[] = {{"thd_n_db", -54.0, false},
                        {"dynamic_range_db_a", 92.0, true},
                        {"crosstalk_db", std::nullopt, false},
                        {"gain_db", -0.45, true},
                        {"latency_frames", 619.0, true}};
    const std::vector<quality_verdict> v = quality_limits_judge(l.items, loops);
    ASSERT_EQ(v.size(), std::size(rows));
    for (size_t i = 0; i < v.size(); i++) {
        SCOPED_TRACE(rows[i].figure);
        EXPECT_EQ(v[i].figure, rows[i].figure);
        EXPECT_EQ(v[i].value, rows[i].value);
        EXPECT_EQ(v[i].pass, rows[i].pass);
    }
    EXPECT_EQ(*v[3].min, -0.5);
    EXPECT_EQ(*v[3].max, 0.5);
}

TEST(QualityLimits, ABoundMeetsAMaxAtOrAboveItAndNeverAMin)
{
    // "< x": the figure lies somewhere below x. Under a max at or above x it
    // passes; under a max below x it cannot be shown to (fails, bound given);
    // against a min it never can. The worst loop's value is the one judged,
    // a bound nearer its limit than a measurement counting as the worst.
    struct row {
        const char* limits;
        std::vector<quality_figure_set> loops;
        std::optional<double> value;
        bool bound, pass;
    };
    const row rows[] = {
        {R"({"thd_db": {"max": -100}})", {{{"thd_db", {-110.0, true}}}}, -110.0, true, true},
        {R"({"thd_db": {"max": -100}})", {{{"thd_db", {-100.0, true}}}}, -100.0, true, true},
        {R"({"thd_db": {"max": -100}})", {{{"thd_db", {-95.0, true}}}}, -95.0, true, false},
        {R"({"thd_db": {"max": -100}})",
         {{{"thd_db", {-120.0, false}}}, {{"thd_db", {-105.0, true}}}},
         -105.0,
         true,
         true},
        {R"({"crosstalk_db": {"max": -90}})",
         {{{"crosstalk_db", {-95.0, false}}}, {{"crosstalk_db", {-120.0, true}}}},
         -95.0,
         false,
         true},
        {R"({"imd_ccif_db": {"min": -200, "max": -80}})", {{{"imd_ccif_db", {-120.0, true}}}}, -120.0, true, false},
        {R"({"imd_smpte_db": {"min": -200}})",
         {{{"imd_smpte_db", {-150.0, false}}}, {{"imd_smpte_db", {-120.0, true}}}},
         -120.0,
         true,
         false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.limits);
        const quality_limits l = quality_limits_parse(r.limits);
        ASSERT_EQ(l.error, "");
        const std::vector<quality_verdict> v = quality_limits_judge(l.items, r.loops);
        ASSERT_EQ(v.size(), 1u);
        EXPECT_EQ(v[0].value, r.value);
        EXPECT_EQ(v[0].bound, r.bound);
        EXPECT_EQ(v[0].pass, r.pass);
    }
}

TEST(QualityLimits, TheFiguresBoundsGoToTheJudge)
{
    // THD, both IMDs and crosstalk can be bounds; the set carries each one's.
    quality_loop_figures f;
    quality_tone_figures t;
    t.conditions.level_dbfs = quality_tone_levels_dbfs[0];
    t.thd_n_db = -90.0, t.thd_db = -110.0, t.thd_floor.bound = true;
    f.tones.push_back(t);
    f.smpte.db = -100.0, f.ccif.db = -120.0, f.ccif.floor.bound = true;
    f.crosstalk_db = -130.0, f.crosstalk_floor.bound = true;
    const quality_figure_set set = quality_limits_figures(f);
    struct row {
        const char* figure;
        double value;
        bool bound;
    };
    for (const row& r : {row{"thd_n_db", -90.0, false}, row{"thd_db", -110.0, true}, row{"imd_smpte_db", -100.0, false},
                         row{"imd_ccif_db", -120.0, true}, row{"crosstalk_db", -130.0, true}}) {
        ASSERT_EQ(set.count(r.figure), 1u) << r.figure;
        EXPECT_EQ(set.at(r.figure).value, r.value) << r.figure;
        EXPECT_EQ(set.at(r.figure).bound, r.bound) << r.figure;
    }
}
