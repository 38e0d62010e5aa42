// loopcheck: a headless measurement of an audio interface's loop (round-trip
// latency with its uncertainty, gain, polarity, response) for scripts and CI,
// as text or JSON, with an exit status that says what was found.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>

#include "analysis/quality_plan.hpp"
#include "loopcheck/options/options.hpp"
#include "loopcheck/report/files.hpp"
#include "loopcheck/report/files_formats.hpp"
#include "loopcheck/report/monitor_report.hpp"
#include "loopcheck/report/report.hpp"
#include "loopcheck/report/report_html.hpp"
#include "loopcheck/report/sweep_report.hpp"
#include "loopcheck/session.hpp"
#include "loopcheck/verdict/verdict.hpp"

namespace {

void interrupt(int) { session_interrupted.store(true); }

void print(const std::string& text)
{
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

// The monitor's lines as it runs: text, or JSON Lines.
monitor_sink monitor_printer(const check_report& r)
{
    const check_options& o = r.options;
    monitor_sink sink;
    sink.start = [&o, &r](const monitor_progress& p, monitor_wall at) {
        // The measurement as it stands before the monitor: its verdict so far.
        const check_verdict so_far = verdict_judge(r);
        print(o.json ? monitor_start_json(r, so_far, p, monitor_wall_text(at))
                     : (o.quiet ? "" : report_tail_text(r, so_far)) + monitor_start_text(p));
    };
    sink.glitch = [&o](const monitor_event& e, const monitor_progress& p, monitor_wall at) {
        const std::string wall = monitor_wall_text(at);
        print(o.json ? monitor_glitch_json(e, p.rate, wall) : monitor_glitch_text(e, p.rate, wall));
    };
    sink.overrun = [&o](int64_t frame, int64_t frames, const monitor_progress& p, monitor_wall at) {
        const std::string wall = monitor_wall_text(at);
        print(o.json ? monitor_overrun_json(frame, frames, p.rate, wall)
                     : monitor_overrun_text(frame, frames, p.rate, wall));
    };
    sink.xrun = [&o](int64_t frame, unsigned what, const monitor_progress& p, monitor_wall at) {
        const std::string wall = monitor_wall_text(at);
        print(o.json ? monitor_xrun_json(frame, what, p.rate, wall) : monitor_xrun_text(frame, what, p.rate, wall));
    };
    sink.status = [&o](const monitor_progress& p, monitor_wall at) {
        if (!o.quiet)
            print(o.json ? monitor_status_json(p, monitor_wall_text(at)) : monitor_status_text(p));
    };
    return sink;
}

// The output files: each can be written, before anything is measured; "" or why not.
std::string files_check(const check_options& o)
{
    for (const std::string* path : {&o.response_file, &o.ir_file, &o.report_file}) {
        const std::string problem = path->empty() ? "" : files_check_writable(*path);
        if (!problem.empty())
            return problem;
    }
    if (o.monitor.save_dir.empty())
        return "";
    // The snippets' folder is made where it is missing, as the README's soak command expects.
    const std::string problem = files_make_folder(o.monitor.save_dir);
    return problem.empty() ? files_check_writable(o.monitor.save_dir + "/.loopcheck-check") : problem;
}

// The files, once the latency stands.
void files_write(check_report& r)
{
    if (!verdict_judge(r).measured)
        return;
    std::string problem;
    if (!r.options.response_file.empty())
        problem = files_write_response_named(r);
    if (problem.empty() && !r.options.ir_file.empty())
        problem = files_write_ir_named(r);
    if (!problem.empty())
        r.files.failure = check_status::error, r.files.reason = problem;
}

// The report, whatever the outcome: a failed run is shown with what it saw.
void report_write(check_report& r)
{
    const std::string problem = r.options.report_file.empty() ? "" : report_html_write(r, verdict_judge(r));
    if (!problem.empty())
        r.files.failure = check_status::error, r.files.reason = problem;
}

// What a person or a script reads at the end.
void render(const check_report& r, const check_verdict& v)
{
    const check_options& o = r.options;
    // The sweep printed a line per size as it went: the table last (-q: the smallest safe buffer alone).
    if (o.sweep.on) {
        const sweep_row* safe = sweep_smallest_safe(r.sweep);
        if (o.json)
            print(report_json(r, v));
        else if (o.quiet && safe)
            std::printf("%lld\n", static_cast<long long>(safe->granted));
        else if (!o.quiet)
            print(sweep_report_text(r, v));
        if (v.status == check_status::error || v.status == check_status::interrupted || (o.quiet && !v.message.empty()))
            std::fprintf(stderr, "%s\n", v.message.c_str());
        return;
    }
    // The monitor printed its lines as it ran: its summary last.
    if (r.watch.ran)
        return print(o.json ? monitor_summary_json(r.monitor_end, v) : monitor_summary_text(r.monitor_end, v));
    // -q prints the number only where it is the loop's.
    const bool number = v.status == check_status::ok || v.status == check_status::outside_expected ||
                        v.status == check_status::outside_limits;
    if (o.json)
        print(report_json(r, v));
    else if (o.quiet && number)
        std::printf("%.3f\n", outcome_statistics(r).mean);
    else if (!o.quiet && v.status != check_status::error && v.status != check_status::interrupted)
        print(report_tail_text(r, v));
    if (v.status == check_status::error || v.status == check_status::interrupted || (o.quiet && !number))
        std::fprintf(stderr, "%s\n", v.message.c_str());
}

// Whether --json is on the command line, even one the parser refused.
bool json_asked(int argc, char** argv)
{
    for (int i = 1; i < argc; i++)
        if (std::strcmp(argv[i], "--json") == 0)
            return true;
    return false;
}

// --json's one object for a command line refused (status 2): the defaults,
// the reason and where the options are listed. The usage went to standard error.
int refused_json(const std::string& refusal)
{
    check_report bad;
    bad.options.json = true;
    bad.setup = {true, check_status::bad_options, refusal + " (loopcheck --help lists the options)", ""};
    const check_verdict v = verdict_judge(bad);
    print(report_json(bad, v));
    return verdict_exit_code(v);
}

}  // namespace

int main(int argc, char** argv)
{
    check_report report;
    std::string refusal;
    const options_next next = options_parse(argc, argv, report.options, refusal);
    if (next == options_next::refused && json_asked(argc, argv))
        return refused_json(refusal);
    if (next != options_next::measure)
        return next == options_next::shown ? 0 : check_status_of(check_status::bad_options).exit_code;
    const check_options& o = report.options;
    const std::string unwritable = files_check(o);
    if (!unwritable.empty()) {
        std::fprintf(stderr, "loopcheck: %s\n", unwritable.c_str());
        if (o.json) {
            report.setup = {true, check_status::error, unwritable, ""};
            print(report_json(report, verdict_judge(report)));
        }
        return check_status_of(check_status::error).exit_code;
    }
    std::signal(SIGINT, interrupt);
    std::signal(SIGTERM, interrupt);
#ifdef SIGHUP
    std::signal(SIGHUP, interrupt);
#endif
    if (!o.response_file.empty() && !o.json && !o.quiet)
        std::fputs("loopcheck: measuring the response too: a 0.85 s sweep\n", stderr);
    if (o.sweep.on && !o.json && !o.quiet)
        std::fprintf(stderr, "loopcheck: a latency and a %g s soak at each buffer size, about %g s each\n",
                     o.sweep.soak_s, o.sweep.soak_s + 1.6);
    session_hooks hooks;
    // Each run as it is measured, for a person watching.
    if (!o.json && !o.quiet && !o.sweep.on)
        hooks.on_run = [&report](const run_report& run, size_t i) { print(report_run_text(report, run, i)); };
    if (!o.json && !o.quiet)
        hooks.on_size = [](const check_report&, const sweep_row& row) { print(sweep_row_text(row)); };
    hooks.monitor = monitor_printer(report);
    // The battery's length from its own plan, once the rate is known.
    if (!o.json && !o.quiet)
        hooks.on_battery = [](const check_report& r) {
            const size_t loops = r.options.out_channels.size();
            std::fprintf(stderr, "loopcheck: the quality battery: %.2f s of tones and sweeps on %zu loop%s at %g Hz\n",
                         static_cast<double>(quality_plan_frames(r.quality.plan)) / r.rate, loops,
                         loops == 1 ? "" : "s", r.rate);
        };
    try {
        if (o.sweep.on)
            session_sweep_run(report, hooks);
        else
            session_run(report, hooks);
    } catch (const std::exception& e) {
        // Outside any mode (the stimuli made, the stream prepared): the session is torn down already.
        report.setup.failure = check_status::error;
        report.setup.reason = e.what();
    }
    files_write(report);
    report_write(report);
    const check_verdict verdict = verdict_judge(report);
    render(report, verdict);
    return verdict_exit_code(verdict);
}
