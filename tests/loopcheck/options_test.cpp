// loopcheck's command line and how it prints a latency: every number checked
// before anything is measured, and the decimals the uncertainty supports.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "loopcheck/options/options.hpp"
#include "loopcheck/report/report.hpp"

namespace {

// options_parse on "loopcheck" and words, its standard error kept quiet.
options_next parse(std::vector<std::string> words, check_options& o)
{
    words.insert(words.begin(), "loopcheck");
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    std::fflush(stderr);
    const int saved = dup(2), null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    const options_next next = options_parse(static_cast<int>(argv.size()), argv.data(), o);
    std::fflush(stderr);
    dup2(saved, 2);
    close(null), close(saved);
    return next;
}

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
                                                       {"--in", "257"}};
    for (const auto& words : bad) {
        check_options o;
        EXPECT_EQ(parse(words, o), options_next::refused) << words[0] << " " << words[1];
    }
}

TEST(LoopcheckOptions, GoodNumbersAreRead)
{
    check_options o;
    ASSERT_EQ(
        parse({"--level", "-20.5", "--expect", "619.5:0.25", "--settle", "0", "-r", "44100", "--allow-monitor"}, o),
        options_next::measure);
    EXPECT_EQ(o.level_dbfs, -20.5);
    EXPECT_TRUE(o.expect && o.allow_monitor);
    EXPECT_EQ(o.expect_frames, 619.5);
    EXPECT_EQ(o.expect_tolerance, 0.25);
    EXPECT_EQ(o.settle_s, 0.0);
    EXPECT_EQ(o.rate, 44100.0);
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
