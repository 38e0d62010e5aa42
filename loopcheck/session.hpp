// One loopcheck session: PortAudio up, the devices found, the stream opened,
// the runs measured and judged, everything closed again.
#pragma once
#include <cstddef>

#include "loopcheck/report.hpp"

// Runs the session for report.options and fills in the report, its status,
// message and exit status; on_run is called as each run is measured. Every
// path after Pa_Initialize calls Pa_Terminate.
void session_run(check_report& report, void (*on_run)(const check_report&, size_t));
