// One loopcheck session: PortAudio up, the devices found, the stream opened,
// the runs measured and judged, everything closed again on one path.
#pragma once
#include <atomic>
#include <cstddef>
#include <functional>

#include "loopcheck/latency/runs.hpp"
#include "loopcheck/monitor/monitor_run.hpp"
#include "loopcheck/verdict/check_report.hpp"

// Set by a signal handler (Ctrl-C, SIGTERM, SIGHUP): the run ends at its next
// look, and the session through the same shutdown as every other path.
extern std::atomic<bool> session_interrupted;
static_assert(std::atomic<bool>::is_always_lock_free);

// What the session hands back as it goes, for a person watching.
struct session_hooks {
    runs_hook on_run;                                                    // the first loop's runs as each is measured
    monitor_sink monitor;                                                // the monitor's lines
    std::function<void(const check_report&, const sweep_row&)> on_size;  // --buffers: each size once done
    std::function<void(const check_report&)> on_battery;                 // --quality: its plan made, before it plays
};

// Runs every mode report.options asks for, each on what the ones before it
// found, and fills in the report: its facts and each mode's end. A mode that
// throws ends with status error and the exception's words, the others go
// on being torn down. Every path after Pa_Initialize calls Pa_Terminate.
void session_run(check_report& report, const session_hooks& hooks);

// --buffers: for each size in turn, the host set to it (a JACK server's own
// size, else the stream's buffer), then a session at it: the latency and a
// soak of --soak seconds under --load. A row per size into report.sweep, and
// the host's size put back on every way out, an interruption included.
void session_sweep_run(check_report& report, const session_hooks& hooks);
