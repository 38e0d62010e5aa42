// The report's page: the verdict, the notes, each mode's key figures, the
// session's conditions, each mode's sections; and the file.
#include "loopcheck/report/report_html.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "loopcheck/report/report.hpp"
#include "loopcheck/report/report_baseline_html.hpp"

#ifndef LOOPCABLE_VERSION
#error "LOOPCABLE_VERSION is the project's version, which CMake defines"
#endif

std::string report_date_now()
{
    const std::time_t now = std::time(nullptr);
    char text[40] = "unknown";
    // std::gmtime's static result is safe here: the report is written on the main thread alone.
    if (const std::tm* utc = std::gmtime(&now))
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", utc);
    return text;
}

namespace {

std::string channel_text(int index, const std::string& name, int64_t channel)
{
    return (index >= 0 ? std::to_string(index) + " " : std::string()) + "\"" + name + "\", channel " +
           std::to_string(channel);
}

// Every mode's part of the page where it goes.
void parts(report_page& page, const session_result& r, html_part part)
{
    for (const mode_result& m : r.modes)
        m.mode->html(page, m.outcome, m.judgement, part);
}

// The session's conditions: the program, the stream, then each mode's rows.
void conditions(report_page& page, const session_result& r, const std::string& date)
{
    const stream_facts& f = r.facts;
    page.conditions.push_back({"Program", "loopcheck " LOOPCABLE_VERSION});
    page.conditions.push_back({"Date", date});
    page.conditions.push_back({"Host API", f.host_api.empty() ? "none chosen" : f.host_api});
    if (!f.out_name.empty())
        page.conditions.push_back({"Output device", channel_text(f.out_device, f.out_name, r.request.out_channels[0])});
    if (!f.in_name.empty())
        page.conditions.push_back({"Input device", channel_text(f.in_device, f.in_name, r.request.in_channels[0])});
    page.conditions.push_back({"Rate", f.rate > 0.0 ? report_figure("%.0f Hz", f.rate) : "not opened"});
    parts(page, r, html_part::conditions);
    html_heading(page.page, 2, "Conditions");
    html_table(page.page, page.conditions);
}

}  // namespace

std::string report_html(const session_result& r, const check_verdict& v, const std::string& date)
{
    report_page page;
    html_begin(page.page, "loopcheck report: " + std::string(check_status_of(v.status).text));
    // What was found first, then how, then the plots.
    html_heading(page.page, 1, "loopcheck: " + std::string(check_status_of(v.status).text));
    const std::string message = verdict_message(v);
    if (!message.empty())
        html_paragraph(page.page, message);
    parts(page, r, html_part::verdict);
    // The warnings and notes as the text report gives them.
    const std::string notes = report_notes(r, v);
    if (!notes.empty())
        html_pre(page.page, notes);
    parts(page, r, html_part::figures);
    conditions(page, r, date);
    parts(page, r, html_part::sections);
    report_baseline_html(page.page, r.baseline_changes);
    html_end(page.page);
    return page.page.text;
}

std::string report_html_write(const session_result& r, const check_verdict& v, const std::string& path)
{
    const std::string text = report_html(r, v, report_date_now());
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
