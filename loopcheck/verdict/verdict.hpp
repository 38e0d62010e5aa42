// The session's verdict: a fold over the modes' judgements. The status is the
// first, in check_status_precedence, that any failed check reached; the
// message every failure's words, the deciding one first, then the notes. It
// is made once, in main, after the modes have ended; the program's name is
// added to the words of its own failures only when they are printed.
#pragma once
#include <span>
#include <string>
#include <vector>

#include "loopcheck/outcome/judgement.hpp"

struct check_verdict {
    check_status status = check_status::ok;
    std::vector<mode_check> failed;  // every check that failed with a status, the deciding one first
    std::vector<std::string> notes;  // said after them, whatever the status
};

// What the command line asks of the fold: with skip_if_no_loop
// (--skip-if-no-loop), a loop not found or no device of the name given is the
// bench not set up, status skipped, not a finding about the interface.
struct verdict_rules {
    bool skip_if_no_loop = false;
};

// The verdict of the judgements, in the session's order (the stream's first).
check_verdict verdict_fold(std::span<const mode_judgement* const> judgements, const verdict_rules& rules = {});

// Whether the rules make a failed check a skip (the bench not set up).
bool verdict_skips(const mode_check& check, const verdict_rules& rules);

// The verdict's words as the summary line, standard error and the JSON's
// "message" give them: each failure's, the program's own failures (an
// error, an interruption) named "loopcheck: ", then the notes; "; " between.
std::string verdict_message(const check_verdict& verdict);

// The process's exit status for the verdict.
int verdict_exit_code(const check_verdict& verdict);

// Words said in the program's name, the one place it is added: "loopcheck: words".
std::string verdict_named(const std::string& words);

// Whether the status is one of the program's own failures (an error, an
// interruption): printed on standard error, with the program's name.
bool verdict_program_failure(check_status status);
