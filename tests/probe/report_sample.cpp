// report_sample: writes a report page with one plot of known lines, for the
// browser's end-to-end test (tests/e2e/report_browser_test.sh).
//
//   report_sample PAGE.html
//
// The plot (800 x 400, x 20 Hz .. 20 kHz on a log axis, y -10 .. 10 dB):
//   red #d62728, 2 px: y = -6 + 4 log10(f / 20) dB, a straight line from
//     -6 dB at 20 Hz to +6 dB at 20 kHz; weak (grey, dashed) above 10 kHz;
//     a NaN at 1 kHz, which must leave a gap and no trace in the file
//   a band of +-1 dB; a marker line at 100 Hz in #9467bd, labelled "latency"
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "writers/html.hpp"
#include "writers/plot.hpp"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: report_sample PAGE.html\n");
        return 2;
    }
    std::vector<double> hz, db;
    std::vector<uint8_t> weak;
    for (int k = 0; k <= 3000; k++) {
        const double f = 20.0 * std::pow(10.0, 3.0 * k / 3000.0);
        hz.push_back(f);
        db.push_back(k == 1000 ? std::numeric_limits<double>::quiet_NaN() : -6.0 + 4.0 * std::log10(f / 20.0));
        weak.push_back(f > 10000.0);
    }
    plot p;
    p.title = "Response <sample> & \"quotes\"";
    p.x = {20.0, 20000.0, plot_scale::log, plot_units::hz, "Frequency (Hz)"};
    p.y = {-10.0, 10.0, plot_scale::linear, plot_units::plain, "Level (dB)"};
    p.bands.push_back({-1.0, 1.0, "#2ca02c", 0.12});
    plot_series loop;
    loop.x = hz;
    loop.y = db;
    loop.stroke = {"#d62728", 2.0, ""};
    loop.label = "loop";
    loop.weak = weak;
    p.series.push_back(loop);
    p.vlines.push_back({100.0, {"#9467bd", 1.0, ""}, "latency"});

    html_page page;
    html_begin(page, "Sample report <&>");
    html_heading(page, 1, "Sample report <&>");
    html_paragraph(page, "A plot of known lines for the browser check.");
    const std::vector<std::pair<std::string, std::string>> rows = {{"latency", "300.25 frames"}, {"rate", "48000 Hz"}};
    html_table(page, rows);
    html_svg(page, plot_svg(p));
    html_end(page);
    std::FILE* out = std::fopen(argv[1], "w");
    if (!out || std::fputs(page.text.c_str(), out) < 0 || std::fclose(out) != 0) {
        std::fprintf(stderr, "report_sample: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
