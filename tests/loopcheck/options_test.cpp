// loopcheck's command line and how it prints a latency: every number checked
// before anything is measured, and the decimals the uncertainty supports.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/loopcheck_parse.hpp"
#include "loopcheck/buffers/buffers.hpp"
#include "loopcheck/latency/latency.hpp"
#include "loopcheck/options/option_table.hpp"
#include "loopcheck/quality/quality.hpp"
#include "loopcheck/report/format.hpp"

namespace {

// The command line read as the program reads it: what follows it.
options_next parse(const std::vector<std::string>& words) { return loopcheck_parse(words).next; }

}  // namespace

TEST(LoopcheckOptions, EveryBadNumberIsRefused)
{
    const std::vector<std::vector<std::string>> bad = {{"--level", "nan"},
                                                       {"--level", "inf"},
                                                       {"--level", "-inf"},
                                                       {"--level", "1e999"},
                                                       {"--level", "0.5"},
                                                       {"--level", "-12dB"},
                                                       {"--max-delay", "nan"},
                                                       {"--max-delay", "0"},
                                                       {"--max-delay", "10.5"},
                                                       {"--settle", "nan"},
                                                       {"--settle", "-0.1"},
                                                       {"--settle", "inf"},
                                                       {"-r", "nan"},
                                                       {"-r", "7999"},
                                                       {"-r", "1e999"},
                                                       {"--expect", "nan"},
                                                       {"--expect", "0:nan"},
                                                       {"--expect", "100:-1"},
                                                       {"--expect", "100:"},
                                                       {"--expect", "inf:1"},
                                                       {"--repeat", "0"},
                                                       {"--repeat", "101"},
                                                       {"--repeat", "nan"},
                                                       {"--repeat", "1.5"},
                                                       {"-b", "0"},
                                                       {"-b", "65537"},
                                                       {"--out", "0"},
                                                       {"--in", "257"},
                                                       {"--exit-protocol", "tap"},
                                                       {"--exit-protocol", "GNU"}};
    for (const auto& words : bad)
        EXPECT_EQ(parse(words), options_next::refused) << words[0] << " " << words[1];
}

TEST(LoopcheckOptions, GoodNumbersAreRead)
{
    const parsed_command p = loopcheck_parse(
        {"--level", "-20.5", "--expect", "619.5:0.25", "--settle", "0", "-r", "44100", "--allow-monitor"});
    ASSERT_EQ(p.next, options_next::measure) << p.refusal;
    const latency_plan& o = p.plan<latency_plan>("latency");
    EXPECT_EQ(o.level_dbfs, -20.5);
    EXPECT_TRUE(o.expect && o.allow_monitor);
    EXPECT_EQ(o.expect_frames, 619.5);
    EXPECT_EQ(o.expect_tolerance, 0.25);
    EXPECT_EQ(o.settle_s, 0.0);
    EXPECT_EQ(p.session.rate, 44100.0);
}

TEST(LoopcheckOptions, CrosstalkTakesAMethodAndImpliesTheBattery)
{
    struct row {
        std::vector<std::string> words;
        bool measure;
        quality_crosstalk_method method;
        const char* refusal;  // part of it
    };
    const auto automatic = quality_crosstalk_method::automatic;
    const row rows[] = {
        {{}, true, automatic, ""},
        {{"--crosstalk", "aes17"}, true, quality_crosstalk_method::aes17, ""},
        {{"--crosstalk", "all-driven", "--out", "1,2", "--in", "1,2"}, true, quality_crosstalk_method::all_driven, ""},
        {{"--crosstalk", "both", "--quality"}, true, quality_crosstalk_method::both, ""},
        {{"--crosstalk", "auto"}, true, automatic, ""},
        {{"--crosstalk", "AES17"}, false, automatic, "--crosstalk \"AES17\" is not a method: auto, aes17"},
        {{"--crosstalk", "all"}, false, automatic, "is not a method"},
        {{"--crosstalk"}, false, automatic, "--crosstalk needs a value: METHOD"},
        {{"--crosstalk", "aes17", "--buffers", "64"}, false, automatic, "does not go with it"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.words.size() << " words" << (r.words.empty() ? "" : ": " + r.words[0]));
        const parsed_command p = loopcheck_parse(r.words);
        EXPECT_EQ(p.next == options_next::measure, r.measure) << p.refusal;
        if (r.measure) {
            EXPECT_EQ(p.plans.count("quality"), r.words.empty() ? 0u : 1u);
            if (!r.words.empty()) {
                EXPECT_EQ(p.plan<battery_plan>("quality").crosstalk, r.method);
            }
        } else {
            EXPECT_NE(p.refusal.find(r.refusal), std::string::npos) << p.refusal;
        }
    }
}

// A mistyped option is named, with the option meant when one is near, on one
// line, and then where the options are listed: never the whole usage.
TEST(LoopcheckOptions, AMistypedOptionIsNamedWithTheNearest)
{
    struct row {
        std::vector<std::string> words;
        const char* said;  // the first line, in full; "" when the command line is good
    };
    const row rows[] = {
        {{"--repaet", "3"}, "--repaet is not an option; did you mean --repeat?"},
        {{"-repeat", "3"}, "-repeat is not an option; did you mean --repeat?"},
        {{"-rate", "48000"}, "-rate is not an option; did you mean --rate?"},
        {{"--monitor", "10min", "--levle", "-3"}, "--levle is not an option; did you mean --level?"},
        {{"--qualty"}, "--qualty is not an option; did you mean --quality?"},
        {{"--buffers", "all", "--max-latency", "10"}, "--max-latency is not an option; did you mean --max-latency-ms?"},
        {{"--frobnicate"}, "--frobnicate is not an option"},
        {{"-x"}, "-x is not an option"},
        {{"-q5"}, "-q5 is not an option"},
        {{"--level"}, "--level needs a value: DBFS"},
        {{"--level", "--json"}, "--level needs a value: DBFS"},
        {{"--limits", ""}, "--limits needs a value: FILE.json"},
        {{"--report="}, "--report needs a value: FILE.html"},
        {{"--level", "-6"}, ""},
        {{"--level=-6", "-r48000", "-dsystem"}, ""},
        {{"--device", "-x"}, ""},
        {{"--monitor", "1h30m"}, ""},
    };
    for (const row& r : rows) {
        std::string line;
        for (const std::string& w : r.words)
            line += w + " ";
        SCOPED_TRACE(line);
        const parsed_command p = loopcheck_parse(r.words);
        if (!r.said[0]) {
            EXPECT_EQ(p.next, options_next::measure) << p.refusal;
            continue;
        }
        EXPECT_EQ(p.next, options_next::refused);
        EXPECT_EQ(p.refusal, r.said);
    }
}

// --help and the man page print every option's range and default from the
// one table, and the parser checks against that range and starts from that
// default: what a user reads is what the program does.
TEST(LoopcheckOptions, HelpAndTheManPageTellTheRangeAndDefaultThatHold)
{
    const std::span<const option_row> rows = loopcheck_option_rows();
    const std::string help = option_help_text(rows), man = option_man_options(rows);
    for (const option_row& row : rows) {
        SCOPED_TRACE(row.names);
        const std::string range = option_range_text(row);
        if (range.empty())
            continue;
        EXPECT_NE(help.find(range.substr(0, range.find(' '))), std::string::npos);
        EXPECT_NE(man.find(range), std::string::npos);
        if (row.max <= row.min)
            continue;
        const std::string name = std::string(row.names).substr(std::string(row.names).rfind(',') + 1);
        // An option that goes with another is given with it.
        std::vector<std::string> words;
        if (row.within[0])
            words = {row.within, std::string(row.within) == "--buffers" ? "all" : "10"};
        words.push_back(name);
        for (const double edge : {row.min, row.max}) {
            char text[40];
            std::snprintf(text, sizeof text, "%.17g", edge);
            words.push_back(text);
            EXPECT_EQ(loopcheck_parse(words).next, options_next::measure) << text;
            // Just beyond, though not by a denormal: a scripted callback earlier in this
            // process may have left the thread flushing those to zero.
            const double beyond = edge + (edge == row.min ? -1e-12 : 1e-12) * std::max(std::fabs(edge), 1.0);
            const double whole_beyond = edge == row.min ? edge - 1.0 : edge + 1.0;
            std::snprintf(text, sizeof text, "%.17g", name == "--buffer" || name == "--repeat" ? whole_beyond : beyond);
            words.back() = text;
            EXPECT_EQ(loopcheck_parse(words).next, options_next::refused) << text;
            words.pop_back();
        }
    }
    // Every default printed as a number is the one the plans start from.
    const latency_plan o;
    const buffers_plan b;
    const struct {
        const char* name;
        double value;
    } defaults[] = {{"--level", o.level_dbfs},
                    {"--repeat", static_cast<double>(o.repeat)},
                    {"--max-delay", o.max_delay_s},
                    {"--settle", o.settle_s},
                    {"--out", 1.0 * o.out_channels[0]},
                    {"--in", 1.0 * o.in_channels[0]},
                    {"--soak", b.soak_s},
                    {"--load", b.load_percent}};
    for (const auto& d : defaults) {
        const option_row* row = option_row_of(rows, d.name);
        ASSERT_NE(row, nullptr) << d.name;
        EXPECT_EQ(std::strtod(row->fallback, nullptr), d.value) << d.name;
    }
    // And every option the table lists is one the parser takes.
    for (const option_row& row : rows) {
        const std::string name = std::string(row.names).substr(std::string(row.names).rfind(',') + 1);
        if (name == "--help" || name == "--version")
            continue;
        const parsed_command p = loopcheck_parse({name, row.value[0] ? "1" : "--json"});
        EXPECT_EQ(p.refusal.find("is not an option"), std::string::npos) << name << ": " << p.refusal;
    }
}

TEST(LoopcheckReport, TheLatencyHasTheDecimalsItsUncertaintySupports)
{
    struct row {
        double latency, uncertainty;
        const char* text;
    };
    for (const row r : {row{619.00004, 0.000097, "619.000 ± 0.0001"}, row{619.0231, 0.0612, "619.02 ± 0.07"},
                        row{619.0231, 0.12, "619.0 ± 0.2"}, row{358.989, 0.95, "359.0 ± 1"}, row{634.5, 2.4, "634 ± 3"},
                        row{634.5, 0.0012, "634.500 ± 0.002"}, row{619.0, 0.1, "619.0 ± 0.1"}})
        EXPECT_EQ(report_latency_text(r.latency, r.uncertainty), r.text) << r.uncertainty;
}
