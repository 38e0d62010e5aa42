// loopcheck: a headless measurement of an audio interface's loop (round-trip
// latency with its uncertainty, gain, polarity, response) for scripts and CI,
// as text or JSON, with an exit status that says what was found.
#include <csignal>
#include <cstdio>

#include "loopcheck/files.hpp"
#include "loopcheck/files_formats.hpp"
#include "loopcheck/options.hpp"
#include "loopcheck/report.hpp"
#include "loopcheck/report_html.hpp"
#include "loopcheck/session.hpp"

namespace {

check_report report;

void interrupt(int) { session_interrupted.store(true); }

// Each run as it is measured, for a person watching.
void run_print(const check_report& r, size_t run)
{
    if (!r.options.json && !r.options.quiet) {
        std::fputs(report_run_text(r, run).c_str(), stdout);
        std::fflush(stdout);
    }
}

// The output files: each can be written, before anything is measured; "" or why not.
std::string files_check(const check_options& o)
{
    for (const std::string* path : {&o.response_file, &o.ir_file, &o.report_file}) {
        const std::string problem = path->empty() ? "" : files_check_writable(*path);
        if (!problem.empty())
            return problem;
    }
    return o.monitor.save_dir.empty() ? "" : files_check_writable(o.monitor.save_dir + "/.loopcheck-check");
}

// The files, once measured.
void files_write(check_report& r)
{
    if (!check_status_measured(r.status))
        return;
    std::string problem;
    if (!r.options.response_file.empty())
        problem = files_write_response_named(r);
    if (problem.empty() && !r.options.ir_file.empty())
        problem = files_write_ir_named(r);
    if (!problem.empty())
        r.status = check_status::error, r.message = "loopcheck: " + problem;
}

// The report, whatever the outcome: a failed run is shown with what it saw.
void report_write(check_report& r)
{
    const std::string problem = r.options.report_file.empty() ? "" : report_html_write(r);
    if (!problem.empty())
        r.status = check_status::error, r.message = "loopcheck: " + problem;
}

}  // namespace

int main(int argc, char** argv)
{
    const int parsed = options_parse(argc, argv, report.options);
    if (parsed >= 0)
        return parsed;
    const check_options& o = report.options;
    const std::string unwritable = files_check(o);
    if (!unwritable.empty()) {
        std::fprintf(stderr, "loopcheck: %s\n", unwritable.c_str());
        return check_status_of(check_status::error).exit_code;
    }
    std::signal(SIGINT, interrupt);
    std::signal(SIGTERM, interrupt);
#ifdef SIGHUP
    std::signal(SIGHUP, interrupt);
#endif
    if (!o.response_file.empty() && !o.json && !o.quiet)
        std::fputs("loopcheck: measuring the response too: a 0.85 s sweep\n", stderr);
    if (o.quality && !o.json && !o.quiet)
        std::fputs("loopcheck: the quality battery follows the latency: about 6 s for one loop, 10 s for two\n",
                   stderr);
    session_run(report, run_print);
    files_write(report);
    report_write(report);
    // The monitor printed its own lines as it ran, its summary last.
    if (report.monitored)
        return report_exit_code(report);
    // -q prints the number only where it is the loop's: measured, and not a monitor's.
    const bool number = report.status == check_status::ok || report.status == check_status::outside_expected ||
                        report.status == check_status::outside_limits;
    if (o.json)
        std::fputs(report_json(report).c_str(), stdout);
    else if (o.quiet && number)
        std::printf("%.3f\n", report_statistics(report).mean);
    else if (!o.quiet && report.status != check_status::error && report.status != check_status::interrupted)
        std::fputs(report_tail_text(report).c_str(), stdout);
    if (report.status == check_status::error || report.status == check_status::interrupted || (o.quiet && !number))
        std::fprintf(stderr, "%s\n", report.message.c_str());
    return report_exit_code(report);
}
