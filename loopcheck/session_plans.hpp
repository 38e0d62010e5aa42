// What the session hands each mode: its plan, made from the command line and
// what the modes before it found. Nothing below the session sees more.
#pragma once
#include "loopcheck/io/stream.hpp"
#include "loopcheck/latency/runs.hpp"
#include "loopcheck/monitor/monitor_run.hpp"
#include "loopcheck/quality/quality_run.hpp"
#include "loopcheck/verdict/check_report.hpp"

// The devices, channels, rate and buffer. The monitor tracks two clocks'
// slide and reports it: with --monitor, two cards are allowed.
stream_request stream_request_of(const check_options& options);

// The runs, their reach and what to keep, on the stream the report describes.
latency_plan latency_plan_of(const check_report& report);

// The battery on every loop, each at its mean latency, with --limits' items.
battery_plan battery_plan_of(const check_report& report);

// The monitor's length and snippets, on the loop as the runs found it.
monitor_plan monitor_plan_of(const check_report& report);
