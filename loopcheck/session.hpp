// One loopcheck session: PortAudio up, the devices found, the stream opened,
// the runs measured and judged, everything closed again on one path.
#pragma once
#include <atomic>
#include <cstddef>

#include "loopcheck/report.hpp"

// Set by a signal handler (Ctrl-C, SIGTERM, SIGHUP): the run ends at its next
// look, and the session through the same shutdown as every other path.
extern std::atomic<bool> session_interrupted;
static_assert(std::atomic<bool>::is_always_lock_free);

// Runs the session for report.options and fills in the report, its status
// and message; on_run is called as each run is measured. Every path after
// Pa_Initialize calls Pa_Terminate.
void session_run(check_report& report, void (*on_run)(const check_report&, size_t));
