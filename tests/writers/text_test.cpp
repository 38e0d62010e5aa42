// What the writers print: escaped text, bounded numbers in any locale, and a
// page that loads nothing from outside.
#include <gtest/gtest.h>

#include <clocale>
#include <limits>

#include "writers/html.hpp"
#include "writers/svg.hpp"

TEST(WritersText, Escaping)
{
    struct row {
        std::string in, out;
    };
    const row rows[] = {
        {"a < b & c > d", "a &lt; b &amp; c &gt; d"},
        {"\"quoted\" 'single'", "&quot;quoted&quot; &#39;single&#39;"},
        {"</svg><script>", "&lt;/svg&gt;&lt;script&gt;"},
        {std::string("bell\a nul") + '\0' + "tab\tline\n", "bell nultab\tline\n"},
        {"Gr\xc3\xbc\xc3\x9f"
         "e \xc2\xb1"
         "0.1 dB",
         "Gr\xc3\xbc\xc3\x9f"
         "e \xc2\xb1"
         "0.1 dB"},
    };
    for (const row& r : rows) {
        EXPECT_EQ(svg_escape(r.in), r.out);
        EXPECT_EQ(html_escape(r.in), r.out);
    }
}

TEST(WritersText, NumbersBoundedAndLocaleFree)
{
    // A locale with a decimal comma, where there is one: printf would write "1,5".
    const bool comma = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    struct row {
        double value;
        int decimals;
        std::string text;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const row rows[] = {
        {1.5, 2, "1.5"},
        {3.0, 2, "3"},
        {2.0 / 3.0, 1, "0.7"},
        {-0.0001, 2, "0"},
        {-12.345, 2, "-12.35"},
        {1e6, 1, "1000000"},
        {0.125, 2, "0.12"},  // ties to even
        {std::numeric_limits<double>::quiet_NaN(), 2, "0"},
        {inf, 2, "0"},
        {-inf, 2, "0"},
    };
    for (const row& r : rows)
        EXPECT_EQ(svg_number(r.value, r.decimals), r.text) << r.value;
    if (comma)
        std::setlocale(LC_ALL, "C");
}

TEST(WritersText, PageIsSelfContained)
{
    html_page page;
    html_begin(page, "Loop <1>");
    html_heading(page, 2, "Latency & gain");
    html_paragraph(page, "<img src=x>");
    const std::pair<std::string, std::string> rows[] = {{"<b>", "1 & 2"}};
    html_table(page, rows);
    html_svg(page, "<svg></svg>");
    html_end(page);
    const std::string& t = page.text;
    EXPECT_NE(t.find("content=\"default-src 'none'; style-src 'unsafe-inline'; img-src data:\""), std::string::npos);
    EXPECT_NE(t.find("<title>Loop &lt;1&gt;</title>"), std::string::npos);
    EXPECT_NE(t.find("<h2>Latency &amp; gain</h2>"), std::string::npos);
    EXPECT_NE(t.find("<p>&lt;img src=x&gt;</p>"), std::string::npos);
    EXPECT_NE(t.find("<th>&lt;b&gt;</th><td>1 &amp; 2</td>"), std::string::npos);
    EXPECT_EQ(t.find("<script"), std::string::npos);
    EXPECT_EQ(t.find("http:"), std::string::npos);
    EXPECT_EQ(t.substr(t.size() - 8), "</html>\n");
}
