// The one judgement of a session: from the options and what each mode found,
// the status the program ends with, its message, the findings beside it, and
// the modes that were asked for but did not run, with why. Pure: it reads the
// report and nothing else, so the renderers and the tests call it alike.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "loopcheck/verdict/check_report.hpp"

inline constexpr double runs_agree_frames = 0.5;  // runs further apart than this are unstable

// What the runs showed beside the verdict: warnings, never a failure of their own.
enum class check_finding { clipping, near_clipping, weak_signal, inverted, echo, retried, input_is_monitor };

// A mode asked for that did not run, and why.
struct check_not_run {
    std::string mode;  // "quality", "monitor"
    std::string reason;
};

struct check_verdict {
    check_status status = check_status::ok;
    std::string message;  // every failure's words, the deciding one first, then the notes
    std::vector<check_finding> findings;
    std::vector<check_not_run> not_run;
    std::optional<bool> expect_pass;  // --expect alone: every loop's mean latency within it
    bool measured = false;            // the latency stands: every loop measured, its runs agreeing
};

// A verdict of one mode on its own figures: ok, or a status and its words.
struct mode_judgement {
    check_status status = check_status::ok;
    std::string message;
};

// The session's verdict. The status is the first, in check_status_precedence,
// of the failures any mode reached.
check_verdict verdict_judge(const check_report& report);

// The process's exit status for the verdict.
int verdict_exit_code(const check_verdict& verdict);

bool verdict_has(const check_verdict& verdict, check_finding finding);

// "" when a mode that plays on the measured loop (the battery, the monitor)
// may run after what the modes before it found; otherwise why not, in a few words.
std::string verdict_blocker(const check_report& report, bool after_battery);

// The monitor's figures against its limits, each that fails: a stimulus
// never found, glitches (without --max-glitches), more glitches than
// --max-glitches, a drift beyond --max-drift. Empty when all hold.
std::vector<mode_judgement> verdict_monitor(const monitor_settings& settings, const monitor_progress& progress);

// "loop 2 (out 2, in 1)": the k-th loop (from 0), as messages name it.
std::string verdict_loop_name(const check_options& options, size_t k);

// The runs of loop k (from 0): the first loop's are the report's own.
std::span<const run_report> verdict_loop_runs(const check_report& report, size_t k);
