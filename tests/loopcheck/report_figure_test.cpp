// report_figure: printf's figure, words around it allowed, never "-0".
#include <gtest/gtest.h>

#include "loopcheck/report/format.hpp"

TEST(LoopcheckReportFigure, ATinyNegativeIsWrittenAsZero)
{
    const struct {
        const char* pattern;
        double value;
        const char* text;
    } rows[] = {
        {"%.1f", -0.04, "0.0"},
        {"%.1f dB", -0.04, "0.0 dB"},
        {"%+.3f ppm", -1e-7, "+0.000 ppm"},
        {"received %.2f dBFS", -0.001, "received 0.00 dBFS"},
        {"%g s", -0.0, "0 s"},
        {"%.0f frames", -0.4, "0 frames"},
        {"%.1f dB", -0.06, "-0.1 dB"},
        {"%+.1f", 0.0, "+0.0"},
        {"%.1f", -5.0, "-5.0"},
        {"a-b %.1f", -0.01, "a-b 0.0"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(report_figure(r.pattern, r.value), r.text) << r.pattern << " " << r.value;
}
