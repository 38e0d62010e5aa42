// loopcheck: a headless measurement of an audio interface's loop (round-trip
// latency with its uncertainty, gain, polarity, response; the modes of the
// mode table besides) for scripts and CI, as text or JSON, with an exit
// status that says what was found. The command line read against the
// option table and by each mode; the session; the verdict, made once; the
// report written and printed.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>

#include "loopcheck/baseline/baseline.hpp"
#include "loopcheck/baseline/trend.hpp"
#include "loopcheck/modes.hpp"
#include "loopcheck/options/options.hpp"
#include "loopcheck/report/files.hpp"
#include "loopcheck/report/report.hpp"
#include "loopcheck/report/report_html.hpp"
#include "loopcheck/report/report_results.hpp"
#include "loopcheck/report/report_trend.hpp"
#include "loopcheck/session.hpp"
#include "loopcheck/verdict/verdict.hpp"

namespace {

void interrupt(int) { session_interrupted.store(true); }

void print(const std::string& text)
{
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

void said(const std::string& text)
{
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

// Whether --json is on the command line, even one the parser refused.
bool json_asked(int argc, char** argv)
{
    for (int i = 1; i < argc; i++)
        if (std::strcmp(argv[i], "--json") == 0)
            return true;
    return false;
}

// The exit protocol a command line names, even one the parser refused (the default where it names none known).
exit_protocol protocol_asked(int argc, char** argv)
{
    exit_protocol protocol = exit_protocol::loopcheck;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "--exit-protocol" && i + 1 < argc)
            exit_protocol_read(argv[i + 1], protocol);
        else if (arg.starts_with("--exit-protocol="))
            exit_protocol_read(arg.substr(16), protocol);
    }
    return protocol;
}

// The machine and the hardware behind the devices (their names, then JACK's port aliases), and the libraries.
void environment_read(session_result& result)
{
    std::vector<std::string> names{result.facts.out_name, result.facts.in_name};
    names.insert(names.end(), result.facts.port_aliases.begin(), result.facts.port_aliases.end());
    result.environment = identity_read(identity_root(), names);
    // On ASIO the device's name is the driver's: its DLL and version from the registry (Windows only).
    if (result.facts.host_api == "ASIO")
        result.environment.driver = identity_read_asio_driver(result.facts.out_name);
    result.versions = stream_versions_of();
}

// --trend: every result under the folder, each figure over time per interface; nothing measured.
int trend(const session_options& o, const baseline_tolerances& tolerances)
{
    std::vector<trend_result> results;
    size_t unread = 0;
    const std::string problem = trend_read(o.trend_dir, results, unread);
    if (!problem.empty()) {
        said(verdict_named(problem) + "\n");
        return exit_protocol_code(o.protocol, check_status::error);
    }
    const std::vector<trend_group> groups = trend_of(std::move(results), tolerances);
    if (!o.report_file.empty()) {
        const std::string unwritten = report_write_text(
            "--report", o.report_file, report_trend_html(groups, unread, o.trend_dir, report_date_now()));
        if (!unwritten.empty()) {
            said(verdict_named(unwritten) + "\n");
            return exit_protocol_code(o.protocol, check_status::error);
        }
    }
    if (o.json) {
        print(trend_json(groups, unread).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
        return exit_protocol_code(o.protocol, check_status::ok);
    }
    std::string text;
    for (const trend_group& g : groups) {
        size_t regressed = 0;
        for (const trend_series& s : g.series)
            for (const trend_point& p : s.points)
                regressed += p.regressed ? 1 : 0;
        text += "\"" + g.key + "\": " + std::to_string(g.results) + " results, " + std::to_string(g.series.size()) +
                " figures, " + std::to_string(regressed) + " points regressed against the first\n";
    }
    print(text + std::to_string(unread) + " files not loopcheck's JSON\n");
    return exit_protocol_code(o.protocol, check_status::ok);
}

// The stream the session asks for: two cards on two clocks allowed where a
// mode asked for measures their ratio (the monitor's drift).
stream_request request_of(const session_options& o, const std::vector<session_mode>& modes)
{
    static_assert(stream_max_loops == options_max_loops);
    stream_request request{o.device, o.in_device, o.out_device, o.out_channels, o.in_channels, o.rate, o.buffer};
    for (const session_mode& m : modes)
        request.two_clocks = request.two_clocks || m.mode->two_clocks;
    return request;
}

// The verdict: the one fold of every judgement, for the report so far and at the end.
check_verdict verdict_of(const session_result& result, const verdict_rules& rules = {})
{
    return verdict_fold(session_judgements(result), rules);
}

// The checks for a CI engine (--junit) and for LAVA (--lava), whatever the outcome: "" or why one was not written.
std::string results_write(const session_result& result, const session_options& o, const verdict_rules& rules)
{
    std::vector<results_file> files;
    if (!o.report_file.empty())
        files.push_back({"", o.report_file});
    const results_run run = report_results(result, rules, report_suite_name(result.facts, result.environment), files);
    std::string problem;
    if (!o.junit_file.empty())
        problem = report_write_text("--junit", o.junit_file, results_junit(run));
    if (problem.empty() && !o.lava_file.empty())
        problem = report_write_text("--lava", o.lava_file, results_lava(run));
    return problem;
}

// A command line refused: its reason and where the options are, and with
// --json the one object, the defaults' and the reason's (status 2).
int refused(int argc, char** argv, const std::string& refusal)
{
    said(verdict_named(refusal) + "\n" + options_see_help + "\n");
    if (!json_asked(argc, argv))
        return exit_protocol_code(protocol_asked(argc, argv), check_status::bad_options);
    // Every mode as its defaults read it; those asked by default not run.
    std::vector<session_mode> modes;
    for (const mode_row& mode : loopcheck_modes()) {
        session_mode m{&mode, {}};
        bool asked = false;
        mode.read(option_values{}, m.plan, asked);
        if (asked)
            modes.push_back(std::move(m));
    }
    session_result result = session_unopened(stream_request{}, std::move(modes), check_status::bad_options,
                                             refusal + " (loopcheck --help lists the options)");
    environment_read(result);
    const check_verdict verdict = verdict_of(result);
    print(report_json(result, verdict));
    return exit_protocol_code(protocol_asked(argc, argv), verdict.status);
}

}  // namespace

int main(int argc, char** argv)
{
    option_values values;
    std::string refusal;
    const options_next next = options_parse(argc, argv, loopcheck_option_rows(), values, refusal);
    if (next == options_next::shown)
        return 0;
    if (next == options_next::refused)
        return refused(argc, argv, refusal);
    session_options o;
    refusal = options_session(values, o);
    std::vector<session_mode> modes;
    for (const mode_row& mode : loopcheck_modes()) {
        session_mode m{&mode, {}};
        bool asked = false;
        const std::string problem = mode.read(values, m.plan, asked);
        if (refusal.empty() && !problem.empty())
            refusal = problem;
        if (asked)
            modes.push_back(std::move(m));
    }
    // A baseline is read and checked before anything is measured.
    nlohmann::json baseline;
    if (refusal.empty() && !o.baseline_file.empty())
        refusal = baseline_read(o.baseline_file, baseline);
    baseline_tolerances tolerances;
    if (refusal.empty() && !o.tolerances_file.empty())
        refusal = o.baseline_file.empty() && o.trend_dir.empty()
                      ? "--tolerances: nothing to judge without --baseline or --trend"
                      : baseline_tolerances_read(o.tolerances_file, tolerances);
    if (!refusal.empty())
        return refused(argc, argv, refusal);
    if (!o.trend_dir.empty())
        return trend(o, tolerances);
    const stream_request request = request_of(o, modes);

    // The output files: each can be written, before anything is measured.
    std::string unwritable;
    for (const session_mode& m : modes)
        if (unwritable.empty() && m.mode->ready)
            unwritable = m.mode->ready(m.plan);
    for (const std::string* file : {&o.report_file, &o.junit_file, &o.lava_file, &o.save_baseline_file})
        if (unwritable.empty() && !file->empty())
            unwritable = files_check_writable(*file);
    if (!unwritable.empty()) {
        session_result result = session_unopened(request, std::move(modes), check_status::error, unwritable);
        environment_read(result);
        const check_verdict verdict = verdict_of(result);
        said(verdict_message(verdict) + "\n");
        if (o.json)
            print(report_json(result, verdict));
        return exit_protocol_code(o.protocol, verdict.status);
    }

    std::signal(SIGINT, interrupt);
    std::signal(SIGTERM, interrupt);
#ifdef SIGHUP
    std::signal(SIGHUP, interrupt);
#endif
    session_result result;
    session_hooks hooks;
    hooks.live.json = o.json, hooks.live.quiet = o.quiet;
    hooks.live.out = print;
    hooks.live.err = said;
    // The report so far, for a live mode's start: the modes ended, with their verdict.
    const verdict_rules rules{o.skip_if_no_loop};
    hooks.live.so_far = [&result, &rules](bool json) {
        environment_read(result);  // the stream is open: its devices are known
        const check_verdict so_far = verdict_of(result, rules);
        return json ? report_json(result, so_far) : report_text(result, so_far);
    };
    try {
        session_run(request, modes, hooks, result);
    } catch (const std::exception& e) {
        // Outside any mode (the stream's opening, its start): the session is torn down already.
        result = session_unopened(request, std::move(modes), check_status::error, e.what());
    }
    environment_read(result);
    // Each figure against the baseline's, on the run's own JSON.
    if (!o.baseline_file.empty()) {
        const nlohmann::json run = nlohmann::json::parse(report_json(result, verdict_of(result, rules)));
        result.baseline.checks = baseline_checks(baseline, run, o.baseline_any, tolerances);
        result.baseline_changes = baseline_changes(baseline, run, o.baseline_any, tolerances);
    }
    check_verdict verdict = verdict_of(result, rules);
    // The report, whatever the outcome: a failed run is shown with what it saw.
    const std::string problem = o.report_file.empty() ? "" : report_html_write(result, verdict, o.report_file);
    if (!problem.empty()) {
        result.setup.checks.push_back(check_failed("report", check_status::error, problem));
        verdict = verdict_of(result, rules);
    }
    // This run as a baseline: its JSON, written whatever the outcome.
    const std::string unsaved =
        o.save_baseline_file.empty()
            ? ""
            : report_write_text("--save-baseline", o.save_baseline_file, report_json(result, verdict));
    if (!unsaved.empty()) {
        result.setup.checks.push_back(check_failed("baseline", check_status::error, unsaved));
        verdict = verdict_of(result, rules);
    }
    // The checks for the harness, after the report (which they attach).
    const std::string unwritten = results_write(result, o, rules);
    if (!unwritten.empty()) {
        result.setup.checks.push_back(check_failed("results", check_status::error, unwritten));
        verdict = verdict_of(result, rules);
    }
    const report_end end = report_ending(result, verdict, o.json, o.quiet);
    print(end.out);
    said(end.err);
    // The harness's convention, applied once, at the very end.
    return exit_protocol_code(o.protocol, verdict.status);
}
