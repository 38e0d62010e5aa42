// The plot's promises: data to pixels by the documented formulas, non-finite
// points never written, weak stretches drawn apart, curves decimated to the
// pixels, and plots that cannot be drawn said so.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "writers/plot.hpp"
#include "writers/polyline.hpp"

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

struct drawn_line {
    std::string tag;
    std::vector<double> xy;
};

// The polylines of an SVG picture, with their points (std::regex recurses
// per character and overflows the stack on a long points list).
std::vector<drawn_line> polylines(const std::string& svg)
{
    std::vector<drawn_line> lines;
    for (size_t at = svg.find("<polyline"); at != std::string::npos; at = svg.find("<polyline", at + 1)) {
        const size_t end = svg.find('>', at);
        drawn_line line{svg.substr(at, end - at + 1), {}};
        const size_t first = svg.find("points=\"", at) + 8;
        std::string points = svg.substr(first, svg.find('"', first) - first);
        for (char& c : points)
            if (c == ',')
                c = ' ';
        std::istringstream in(points);
        for (double v; in >> v;)
            line.xy.push_back(v);
        lines.push_back(line);
    }
    return lines;
}

plot response_plot()
{
    plot p;
    p.width = 800.0;
    p.height = 400.0;
    p.x = {20.0, 20000.0, plot_scale::log, plot_units::hz, "Hz"};
    p.y = {-10.0, 10.0, plot_scale::linear, plot_units::plain, "dB"};
    return p;
}

}  // namespace

TEST(WritersPlot, MapsDataToPixelsAsDocumented)
{
    const plot p = response_plot();
    const plot_frame a = plot_area(p);
    EXPECT_EQ(a.left, 64.0);
    EXPECT_EQ(a.top, 36.0);
    EXPECT_EQ(a.width, 720.0);
    EXPECT_EQ(a.height, 316.0);
    const plot_axis linear{-1.0, 3.0, plot_scale::linear, plot_units::plain, ""};
    struct row {
        const plot_axis& axis;
        bool is_x;
        double value, pixel;
    };
    const row rows[] = {
        {p.x, true, 20.0, 64.0},
        {p.x, true, 20000.0, 784.0},
        {p.x, true, 200.0, 304.0},  // one decade of three
        {p.x, true, std::sqrt(20.0 * 20000.0), 424.0},
        {p.x, true, 2.0, -176.0},  // outside the range: outside the area
        {p.y, false, 10.0, 36.0},
        {p.y, false, -10.0, 352.0},
        {p.y, false, 0.0, 194.0},
        {p.y, false, 1.0, 178.2},
        {linear, true, 0.0, 244.0},
        {linear, true, 3.0, 784.0},
    };
    for (const row& r : rows) {
        const double px = r.is_x ? plot_map_x(r.axis, a, r.value) : plot_map_y(r.axis, a, r.value);
        EXPECT_NEAR(px, r.pixel, 1e-9) << r.value;
    }
    for (const double bad : {not_a_number, inf, 0.0, -20.0})
        EXPECT_TRUE(std::isnan(plot_map_x(p.x, a, bad))) << bad;
    EXPECT_TRUE(std::isnan(plot_map_y(p.y, a, -inf)));
}

TEST(WritersPlot, NonFinitePointsAreSkippedAndBreakTheLine)
{
    plot p = response_plot();
    const std::vector<double> x = {20, 100, not_a_number, 1000, 2000, -5, 5000, 10000, 20000, inf};
    const std::vector<double> y = {0, 1, 2, -inf, 3, 4, not_a_number, 5, 6, 7};
    plot_series s;
    s.x = x;
    s.y = y;
    p.series.push_back(s);
    const plot_points dots{x, y};
    p.points.push_back(dots);
    const std::string svg = plot_svg(p);
    EXPECT_EQ(svg.find("not_a_number"), std::string::npos);
    EXPECT_EQ(svg.find("inf"), std::string::npos);
    // 20-100, then 10000-20000; 2000 stands alone between two gaps.
    const std::vector<drawn_line> lines = polylines(svg);
    ASSERT_EQ(lines.size(), 2u);
    const double first[] = {64.0, 194.0, 64.0 + 240.0 * std::log10(5.0), 178.2};
    ASSERT_EQ(lines[0].xy.size(), 4u);
    for (size_t i = 0; i < 4; i++)
        EXPECT_NEAR(lines[0].xy[i], first[i], 0.05);
    EXPECT_EQ(lines[1].xy.size(), 4u);
}

TEST(WritersPlot, WeakStretchesJoinWithoutGaps)
{
    plot p = response_plot();
    const std::vector<double> x = {20, 50, 100, 200, 500, 1000, 2000};
    const std::vector<double> y = {0, 0, 0, 0, 0, 0, 0};
    const std::vector<uint8_t> weak = {0, 0, 1, 1, 0, 0, 0};
    plot_series s;
    s.x = x;
    s.y = y;
    s.weak = weak;
    s.stroke = {"#d62728", 2.0, ""};
    p.series.push_back(s);
    const std::vector<drawn_line> lines = polylines(plot_svg(p));
    // Strong 20-50, weak 50-500 (a segment with a weak end is weak), strong 500-2000.
    ASSERT_EQ(lines.size(), 3u);
    const size_t points[] = {2, 4, 3};
    const bool dashed[] = {false, true, false};
    for (size_t i = 0; i < 3; i++) {
        EXPECT_EQ(lines[i].xy.size(), 2 * points[i]) << i;
        EXPECT_EQ(lines[i].tag.find("stroke-dasharray") != std::string::npos, dashed[i]) << lines[i].tag;
        if (i > 0) {  // each stretch starts where the last one ended
            EXPECT_EQ(lines[i].xy[0], lines[i - 1].xy[lines[i - 1].xy.size() - 2]);
        }
    }
}

TEST(WritersPlot, CurvesComeDownToThePixels)
{
    // A million points of a noisy curve with one spike: at most four points
    // per pixel column, the spike kept, the file small.
    plot p = response_plot();
    std::vector<double> x(1000000), y(1000000);
    for (size_t i = 0; i < x.size(); i++) {
        x[i] = 20.0 * std::pow(1000.0, static_cast<double>(i) / (x.size() - 1));
        y[i] = std::sin(0.001 * i) + (i % 7) * 0.01;
    }
    y[500000] = 9.0;
    plot_series s;
    s.x = x;
    s.y = y;
    p.series.push_back(s);
    const std::string svg = plot_svg(p);
    const std::vector<drawn_line> lines = polylines(svg);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_LE(lines[0].xy.size(), 2u * 4u * 721u);
    EXPECT_LT(svg.size(), 80000u);
    double top = 1e9;
    for (size_t i = 1; i < lines[0].xy.size(); i += 2)
        top = std::min(top, lines[0].xy[i]);
    EXPECT_NEAR(top, plot_map_y(p.y, plot_area(p), 9.0), 0.05);

    // Columns in order: first, lowest, highest, last; nothing twice.
    const std::vector<double> column = {10.1, 5, 10.5, 1, 10.7, 9, 10.9, 4, 11.2, 3};
    std::vector<double> kept;
    polyline_decimate(column, kept);
    EXPECT_EQ(kept, (std::vector<double>{10.1, 5, 10.5, 1, 10.7, 9, 10.9, 4, 11.2, 3}));
    const std::vector<double> many = {3.0, 2, 3.2, 8, 3.4, 0, 3.6, 5, 3.8, 6, 3.9, 1};
    kept.clear();
    polyline_decimate(many, kept);
    EXPECT_EQ(kept, (std::vector<double>{3.0, 2, 3.2, 8, 3.4, 0, 3.9, 1}));
}

TEST(WritersPlot, ExtremeValuesStayBounded)
{
    plot p = response_plot();
    const std::vector<double> x = {20, 1000, 20000};
    const std::vector<double> y = {1e300, 0, -1e300};
    plot_series s;
    s.x = x;
    s.y = y;
    p.series.push_back(s);
    p.bands.push_back({-1e308, 1e308});
    const std::string svg = plot_svg(p);
    const std::vector<drawn_line> lines = polylines(svg);
    ASSERT_EQ(lines.size(), 1u);
    for (const double v : lines[0].xy)
        EXPECT_LE(std::abs(v), 2e5);
    EXPECT_LT(svg.size(), 8000u);
}

TEST(WritersPlot, PlotsThatCannotBeDrawnSaySo)
{
    struct row {
        double x_min, x_max, y_min, y_max;
        plot_scale x_scale;
        std::string problem;
    };
    const row rows[] = {
        {20, 20000, -10, 10, plot_scale::log, ""},
        {0, 20000, -10, 10, plot_scale::log, "the x axis has no range it can show"},
        {0, 20000, -10, 10, plot_scale::linear, ""},
        {5, 5, -10, 10, plot_scale::linear, "the x axis has no range it can show"},
        {0, not_a_number, -10, 10, plot_scale::linear, "the x axis has no range it can show"},
        {0, 1, 10, -10, plot_scale::linear, "the y axis has no range it can show"},
        {0, 1, -inf, 10, plot_scale::linear, "the y axis has no range it can show"},
        {0, 1, -1e308, 1e308, plot_scale::linear, "the y axis has no range it can show"},
    };
    for (const row& r : rows) {
        plot p = response_plot();
        p.x.min = r.x_min, p.x.max = r.x_max, p.x.scale = r.x_scale;
        p.y.min = r.y_min, p.y.max = r.y_max;
        EXPECT_EQ(plot_check(p), r.problem);
        if (!r.problem.empty()) {
            EXPECT_NE(plot_svg(p).find(r.problem), std::string::npos);
        }
    }
    plot small = response_plot();
    small.width = 100.0;
    EXPECT_NE(plot_check(small), "");
}

TEST(WritersPlot, BarsPointsAndMarkersLandOnTheirPixels)
{
    // x 0 .. 720 over the 720 px area: px = 64 + x; y 0 .. 316: py = 352 - y.
    plot p;
    p.x = {0.0, 720.0, plot_scale::linear, plot_units::plain, "frames"};
    p.y = {0.0, 316.0, plot_scale::linear, plot_units::plain, "runs"};
    const std::vector<double> x0 = {10, 20, 700}, x1 = {20, 30, 800}, count = {100, 0.5, 50};
    p.bars.push_back({x0, x1, count, "#1f77b4", 0.0, {}});
    const std::vector<double> px = {100, 100, 900}, py = {10, 400, 10};
    p.points.push_back({px, py, "#d62728", 3.0});
    p.vlines.push_back({300.25, {"#9467bd", 1.0, ""}, "a<b"});
    p.vlines.push_back({-1.0, {"#9467bd", 1.0, ""}, "outside"});
    const std::string svg = plot_svg(p);
    const std::string wanted[] = {
        "<rect x=\"74\" y=\"252\" width=\"10\" height=\"100\" fill=\"#1f77b4\"/>",
        "<rect x=\"84\" y=\"351.5\" width=\"10\" height=\"0.5\" fill=\"#1f77b4\"/>",
        // Reaching beyond the area: the area's viewport clips it.
        "<rect x=\"764\" y=\"302\" width=\"100\" height=\"50\" fill=\"#1f77b4\"/>",
        "<circle cx=\"164\" cy=\"342\" r=\"3\" fill=\"#d62728\"/>",
        "<line x1=\"364.5\" y1=\"36\" x2=\"364.5\" y2=\"352\" stroke=\"#9467bd\"",
        ">a&lt;b</text>",
    };
    for (const std::string& w : wanted)
        EXPECT_NE(svg.find(w), std::string::npos) << w;
    // Points outside the area and a marker left of it are not drawn at all.
    EXPECT_EQ(svg.find("<circle", svg.find("<circle") + 1), std::string::npos);
    EXPECT_EQ(svg.find("outside"), std::string::npos);
}

TEST(WritersPlot, AHatchedBarIsItsOutlineAndDiagonals)
{
    // A bound's bar: 30 px wide, 60 high, not filled; its outline, and lines
    // x + y = c every 6 px from the top left corner on, each ending on the
    // bar's edges (never outside them), 14 of them; the bar beside it filled.
    plot p;
    p.x = {0.0, 720.0, plot_scale::linear, plot_units::plain, "x"};
    p.y = {0.0, 316.0, plot_scale::linear, plot_units::plain, "y"};
    const std::vector<double> x0 = {100, 200}, x1 = {130, 230}, y = {60, 60};
    const std::vector<uint8_t> hatched = {1, 0};
    p.bars.push_back({x0, x1, y, "#ff7f0e", 0.0, hatched});
    const std::string svg = plot_svg(p);
    EXPECT_NE(svg.find("<rect x=\"264\" y=\"292\" width=\"30\" height=\"60\" fill=\"#ff7f0e\"/>"), std::string::npos);
    EXPECT_NE(svg.find("<rect x=\"164\" y=\"292\" width=\"30\" height=\"60\" fill=\"none\" stroke=\"#ff7f0e\""),
              std::string::npos);
    int diagonals = 0;
    for (size_t at = svg.find("<line x1=\""); at != std::string::npos; at = svg.find("<line x1=\"", at + 1)) {
        double x1v = 0, y1v = 0, x2v = 0, y2v = 0;
        if (std::sscanf(svg.c_str() + at, "<line x1=\"%lf\" y1=\"%lf\" x2=\"%lf\" y2=\"%lf\"", &x1v, &y1v, &x2v,
                        &y2v) != 4)
            continue;
        if (x1v < 164 || x2v > 194 || std::fabs((x1v + y1v) - (x2v + y2v)) > 1e-6)
            continue;  // an axis tick, not the hatching
        diagonals++;
        EXPECT_GE(std::min(y1v, y2v), 292.0);
        EXPECT_LE(std::max(y1v, y2v), 352.0);
    }
    EXPECT_EQ(diagonals, 14);
}
