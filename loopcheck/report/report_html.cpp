// The report's page: its sections in order, and the file.
#include "loopcheck/report/report_html.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// The page's order: what was found first, then how, then the plots. A mode
// that measures more (quality figures, a long watch) adds its section here,
// after the response: a function of check_report that adds its headings,
// tables and plots, and nothing when its data are not there.
constexpr report_section sections[] = {
    {"verdict", report_html_verdict}, {"conditions", report_html_conditions}, {"impulse response", report_html_impulse},
    {"runs", report_html_runs},       {"response", report_html_response},     {"quality", report_html_quality},
    {"monitor", report_html_monitor}, {"buffer sweep", report_html_sweep},
};

std::string date_now()
{
    const std::time_t now = std::time(nullptr);
    char text[40] = "unknown";
    // std::gmtime's static result is safe here: the report is written on the main thread alone.
    if (const std::tm* utc = std::gmtime(&now))
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", utc);
    return text;
}

}  // namespace

std::span<const report_section> report_html_sections() { return sections; }

std::string report_html(const check_report& r, const check_verdict& v, const std::string& date)
{
    html_page page;
    html_begin(page, "loopcheck report: " + std::string(check_status_of(v.status).text));
    for (const report_section& s : sections)
        s.add(page, r, v, date);
    html_end(page);
    return page.text;
}

std::string report_html_write(const check_report& r, const check_verdict& v)
{
    const std::string& path = r.options.report_file;
    const std::string text = report_html(r, v, date_now());
    errno = 0;
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f)
        return "cannot write " + path + ": " + std::strerror(errno);
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const int error = errno;
    if (std::fclose(f) != 0 || !written)
        return "cannot write " + path + ": " + std::strerror(error ? error : errno);
    return "";
}
