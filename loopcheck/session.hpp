// One loopcheck session: the stream opened, and each mode the command line
// asks for, in the mode table's order, prepared, run and judged, each on
// what the ones before it hand on (mode_prior); everything closed again on
// one path. Its result is the setup's facts and a result per mode: what the
// renderers show and the verdict folds.
#pragma once
#include <any>
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "loopcheck/mode.hpp"

// Set by a signal handler (Ctrl-C, SIGTERM, SIGHUP): the run ends at its next
// look, and the session through the same shutdown as every other path.
extern std::atomic<bool> session_interrupted;
static_assert(std::atomic<bool>::is_always_lock_free);

// A mode asked for, with its plan as read from the command line.
struct session_mode {
    const mode_row* mode = nullptr;
    std::any plan;
};

// How the session opens its stream (the device's, or in tests a scripted
// one), its clock, and how its modes speak as they run.
struct session_hooks {
    std::function<stream_ptr(const stream_request&, std::string& problem)> open = stream_open;
    stream_pace pace = stream_pace_system();
    mode_live live;
};

// Opens the stream for the request; prepares every mode asked (its clips and
// ring given to the stream), starts it, then runs and judges each in turn:
// one that plays on the measured loop only when the modes before allow, one
// that is alone by itself. A mode that throws ends with status error and
// the exception's words, and the session goes on. result is filled in as
// each mode ends, so that a live mode's start can show the report so far.
void session_run(const stream_request& request, std::vector<session_mode> modes, const session_hooks& hooks,
                 session_result& result);

// A session that never opened its stream (a command line refused, a file
// that cannot be written): every mode asked not run, the stream's failure
// with its status and words.
session_result session_unopened(const stream_request& request, std::vector<session_mode> modes, check_status status,
                                const std::string& words);
