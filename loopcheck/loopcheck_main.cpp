// loopcheck: a headless measurement of an audio interface's loop (round-trip
// latency to a thousandth of a frame, gain, polarity, response) for scripts
// and CI, as text or JSON, with an exit status that says what was found.
#include <csignal>
#include <cstdio>

#include "loopcheck/measure.hpp"
#include "loopcheck/options.hpp"
#include "loopcheck/report.hpp"
#include "loopcheck/session.hpp"

namespace {

check_report report;

void interrupt(int) { measure_interrupted.store(true); }

// Each run as it is measured, for a person watching.
void run_print(const check_report& r, size_t run)
{
    if (!r.options.json && !r.options.quiet) {
        std::fputs(report_run_text(r, run).c_str(), stdout);
        std::fflush(stdout);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const int parsed = options_parse(argc, argv, report.options);
    if (parsed >= 0)
        return parsed;
    std::signal(SIGINT, interrupt);
    std::signal(SIGTERM, interrupt);
#ifdef SIGHUP
    std::signal(SIGHUP, interrupt);
#endif
    if (!report.options.response_file.empty() && !report.options.json && !report.options.quiet)
        std::fputs("loopcheck: measuring the response too: a 1.4 s sweep, about 2 s a run\n", stderr);
    session_run(report, run_print);
    const bool measured = report.exit_status == 0 || report.exit_status == 5;
    if (report.options.json)
        std::fputs(report_json(report).c_str(), stdout);
    else if (report.options.quiet && measured)
        std::printf("%.3f\n", report_statistics(report).mean);
    else if (!report.options.quiet && report.status != "error")
        std::fputs(report_tail_text(report).c_str(), stdout);
    if (report.status == "error" || (report.options.quiet && !measured))
        std::fprintf(stderr, "%s\n", report.message.c_str());
    return report.exit_status;
}
