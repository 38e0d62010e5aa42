// The session's report, as a person and a script read it, from the session's
// result and its verdict alone: the frame around what each mode says (the
// JSON object's head and its not_run, the text's notes and the verdict's
// words), and what the program prints at its end, on which stream.
#pragma once
#include <nlohmann/json.hpp>
#include <string>

#include "loopcheck/mode.hpp"
#include "loopcheck/verdict/verdict.hpp"

// The devices as the summary names them: `device 0 "name"`, or the output's and the input's.
std::string report_device_text(const stream_facts& facts);

// The whole report as one JSON object (a line of its own): the program, the
// status and the message, the stream, each mode's keys, the modes not run.
std::string report_json(const session_result& result, const check_verdict& verdict);

// The text: the modes' blocks in order, the notes on those that did not
// run, and the verdict's words.
std::string report_text(const session_result& result, const check_verdict& verdict);

// Every mode's warnings and the notes on those that did not run (the HTML report's notes).
std::string report_notes(const session_result& result, const check_verdict& verdict);

// What the program prints at its end: on standard output the report (JSON,
// -q's number, or the text), on standard error its own failures and, with
// -q, the verdict's words. A live mode that ran has printed the report so far
// at its start (not with -q) and its lines as it went: its summary and the
// verdict's words are the end.
struct report_end {
    std::string out, err;
};
report_end report_ending(const session_result& result, const check_verdict& verdict, bool json, bool quiet);
