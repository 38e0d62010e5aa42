// A mode of loopcheck, the one interface: a struct of functions, one row of
// the mode table (modes.cpp). A mode's folder holds all of them and reads
// top to bottom like a PortAudio example: its constants and option rows, its
// plan read from the command line, the program it gives the stream, its run,
// its judgement and its words. docs/layout.md ("Adding a mode") walks
// through the smallest one, loopcheck/idle/.
//
// The session (session.hpp) opens the stream, and for each mode the command
// line asks for, in the table's order, prepares it, runs it and judges it,
// handing the next a small prior (the loops' latency and gain); the
// renderers (report/) call each mode's words from its outcome and judgement
// alone, and the verdict (verdict/) folds the judgements, once, in main.
//
// A mode writes its functions on its own types, a Plan and an Outcome, and
// mode_make (below) wraps them for the table. Two members every Outcome
// has, by which the session makes the outcome of a mode that could not run:
//     mode_end end;  // how it ended: ran, its failure and words
//     Plan plan;     // what it was asked, for its words
#pragma once
#include <any>
#include <atomic>
#include <exception>
#include <functional>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "loopcheck/baseline/baseline.hpp"
#include "loopcheck/identity/identity.hpp"
#include "loopcheck/io/capture.hpp"
#include "loopcheck/io/stream.hpp"
#include "loopcheck/io/stream_wait.hpp"
#include "loopcheck/options/option_row.hpp"
#include "loopcheck/options/option_values.hpp"
#include "loopcheck/outcome/judgement.hpp"

// ---- what the modes are handed --------------------------------------------------

// What the modes before hand the next: the loops as the latency measured them.
struct mode_prior {
    std::vector<double> latency_frames;  // each loop's mean round trip; empty until the latency has run
    double gain = 0.0;                   // loop 1's linear gain, negative when its polarity is inverted
    std::string blocked;                 // why a mode that plays on the measured loop may not run ("" when it may)
};

// How a mode speaks while it runs: lines for a person on standard output
// and standard error (each mode says nothing there with --json or -q but
// what it must), and the session's report so far, for a mode whose own
// lines follow it (the monitor's start). Empty functions say nothing.
struct mode_live {
    bool json = false, quiet = false;
    std::function<void(const std::string&)> out, err;
    std::function<std::string(bool json)> so_far;
    void say(const std::string& text) const { out ? out(text) : void(); }
    void warn(const std::string& text) const { err ? err(text) : void(); }
};

// What a run is handed beside its plan and the prior: the stream, the wait
// on it, the signal that ends it, the clock for waits of its own, its voice.
struct mode_run {
    stream& s;
    capture_wait wait;
    const std::atomic<bool>* interrupted = nullptr;
    stream_pace pace;
    mode_live live;
    bool stopped() const { return interrupted && interrupted->load(); }
};

// ---- what the renderers are handed ------------------------------------------------

// A mode's text: its block of the report (its figures, its warnings among
// them), or its warnings alone (the HTML report's notes gather them).
enum class text_part { report, warnings };

// Where in the HTML page a mode adds: beside the verdict's words (what a failed
// run saw), its key figures after the notes, its rows of the conditions'
// table, its sections.
enum class html_part { verdict, figures, conditions, sections };

struct html_page;
// The page as the report's frame builds it, with the conditions' rows the
// modes add before the frame writes their table.
struct report_page;

// ---- the mode's row --------------------------------------------------------------

struct mode_row {
    const char* name;                     // as the JSON's not_run names it: "quality"
    const char* said;                     // as a failure's words name it: "--quality"
    std::span<const option_row> options;  // its rows of the option table
    // Flags: a mode that plays on the measured loop runs only when the modes
    // before it allow (prior.blocked); one that is alone takes the session to
    // itself (the others asked are not run); a live one prints its own lines
    // as it runs and its summary at the end, and comes last but for the alone;
    // one that is noted says why in the report when asked and not run; one
    // that keeps its text prints it even when the session ends in an error;
    // one that measures two clocks' ratio (the monitor's drift) lets the
    // stream open two cards on two clocks.
    bool plays_on_loop = false, alone = false, live = false, noted = false, keeps_text = false, two_clocks = false;

    // The command line read into its plan: whether it is asked, and "" or why
    // the values are refused (exit status 2, before any device is touched).
    std::function<std::string(const option_values&, std::any& plan, bool& asked)> read;
    // Before anything is measured: the files it will write can be written. "" or why not (status 1).
    std::function<std::string(const std::any& plan)> ready;
    // Before the stream starts: its clips and ring given to the stream, its
    // plan completed from the stream's facts. "" or why the stream cannot
    // serve it (the session ends with an error); an exception fails the mode alone.
    std::function<std::string(std::any& plan, stream& s)> prepare;
    std::function<std::any(const std::any& plan, const mode_prior& prior, mode_run& run)> run;
    // The outcome of a mode that did not run, or threw: how it ended; and how any outcome ended.
    std::function<std::any(const std::any& plan, const mode_end& end)> unrun;
    std::function<mode_end(const std::any& outcome)> ended;
    std::function<mode_judgement(const std::any& outcome)> judge;
    // What it hands the modes after it (most hand nothing).
    std::function<void(const std::any& outcome, mode_prior& prior)> hand_on;
    std::function<std::string(const std::any& outcome, const mode_judgement& judgement, text_part part)> text;
    // -q's one number where this mode gives it ("" otherwise), under the session's status.
    std::function<std::string(const std::any& outcome, check_status session)> quiet;
    std::function<void(const std::any& outcome, const mode_judgement& judgement, nlohmann::ordered_json& report)> json;
    std::function<void(report_page& page, const std::any& outcome, const mode_judgement& judgement, html_part part)>
        html;
};

// ---- what the session hands back --------------------------------------------------

struct mode_result {
    const mode_row* mode = nullptr;
    std::any outcome;
    mode_end end;  // the outcome's: whether it ran, and why not
    mode_judgement judgement;
};

struct session_result {
    stream_request request;          // what the stream was asked for
    stream_facts facts;              // what it was: the host API, the devices, the rate
    int64_t buffer_granted = 0;      // the most frames the callback was handed, over the modes that ran on it
    mode_judgement setup;            // the stream opened and started, or why not
    std::vector<mode_result> modes;  // each mode asked, in the table's order, as it ended
    bool live_ran = false;           // a live mode ran: the output after it is its own
    identity environment;            // the machine and the hardware behind the devices (main reads it)
    mode_judgement baseline;         // --baseline: each figure against the baseline's (main makes it)
    std::vector<baseline_change> baseline_changes;  // the same as figures, for the page's drawing
    stream_versions versions;                       // the audio libraries' versions
};

// The judgements in the session's order, the stream's first: what the verdict folds.
inline std::vector<const mode_judgement*> session_judgements(const session_result& result)
{
    std::vector<const mode_judgement*> all{&result.setup};
    for (const mode_result& m : result.modes)
        all.push_back(&m.judgement);
    all.push_back(&result.baseline);
    return all;
}

// ---- the wrapper -----------------------------------------------------------------

// A mode's functions on its own Plan and Outcome; those it has no use for are nullptr.
template <typename Plan, typename Outcome>
struct mode_functions {
    std::string (*read)(const option_values&, Plan&, bool& asked) = nullptr;
    std::string (*ready)(const Plan&) = nullptr;
    std::string (*prepare)(Plan&, stream&) = nullptr;
    Outcome (*run)(const Plan&, const mode_prior&, mode_run&) = nullptr;
    mode_judgement (*judge)(const Outcome&) = nullptr;
    void (*hand_on)(const Outcome&, mode_prior&) = nullptr;
    std::string (*text)(const Outcome&, const mode_judgement&, text_part) = nullptr;
    std::string (*quiet)(const Outcome&, check_status) = nullptr;
    void (*json)(const Outcome&, const mode_judgement&, nlohmann::ordered_json&) = nullptr;
    void (*html)(report_page&, const Outcome&, const mode_judgement&, html_part) = nullptr;
};

// The row of the table for a mode: its names and options, and its functions
// on its own types (its flags are set on the row it returns).
template <typename Plan, typename Outcome>
mode_row mode_make(const char* name, const char* said, std::span<const option_row> options,
                   const mode_functions<Plan, Outcome>& f)
{
    mode_row row;
    row.name = name, row.said = said, row.options = options;
    const auto plan_of = [](const std::any& a) -> const Plan& { return std::any_cast<const Plan&>(a); };
    const auto outcome_of = [](const std::any& a) -> const Outcome& { return std::any_cast<const Outcome&>(a); };
    row.read = [f](const option_values& values, std::any& plan, bool& asked) {
        Plan p;
        const std::string problem = f.read(values, p, asked);
        plan = std::move(p);
        return problem;
    };
    if (f.ready)
        row.ready = [f, plan_of](const std::any& plan) { return f.ready(plan_of(plan)); };
    if (f.prepare)
        row.prepare = [f](std::any& plan, stream& s) { return f.prepare(std::any_cast<Plan&>(plan), s); };
    row.run = [f, plan_of](const std::any& plan, const mode_prior& prior, mode_run& run) -> std::any {
        return f.run(plan_of(plan), prior, run);
    };
    row.unrun = [plan_of](const std::any& plan, const mode_end& end) -> std::any {
        Outcome o;
        o.plan = plan_of(plan);
        o.end = end;
        return o;
    };
    row.ended = [outcome_of](const std::any& o) { return outcome_of(o).end; };
    row.judge = [f, outcome_of](const std::any& o) { return f.judge(outcome_of(o)); };
    if (f.hand_on)
        row.hand_on = [f, outcome_of](const std::any& o, mode_prior& prior) { f.hand_on(outcome_of(o), prior); };
    row.text = [f, outcome_of](const std::any& o, const mode_judgement& j, text_part part) {
        return f.text ? f.text(outcome_of(o), j, part) : std::string();
    };
    if (f.quiet)
        row.quiet = [f, outcome_of](const std::any& o, check_status session) {
            return f.quiet(outcome_of(o), session);
        };
    row.json = [f, outcome_of](const std::any& o, const mode_judgement& j, nlohmann::ordered_json& report) {
        if (f.json)
            f.json(outcome_of(o), j, report);
    };
    row.html = [f, outcome_of](report_page& page, const std::any& o, const mode_judgement& j, html_part part) {
        if (f.html)
            f.html(page, outcome_of(o), j, part);
    };
    return row;
}
