// The session's record: the command line, and what each mode found and how
// it ended. The verdict judges it and the renderers show it; the modes never
// see it, only the plans the session makes from it.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "loopcheck/options/options.hpp"
#include "loopcheck/outcome/monitor_trace.hpp"
#include "loopcheck/outcome/outcome.hpp"
#include "loopcheck/outcome/sweep.hpp"

// The latency's facts are the record's own (report.runs, report.ir ...).
struct check_report : latency_facts {
    check_options options;
    mode_end setup;    // PortAudio, the devices, the stream
    mode_end latency;  // the runs on every loop
    mode_end battery;  // --quality
    mode_end watch;    // --monitor
    mode_end files;    // the output files, once measured
    mode_end buffers;  // --buffers: the sweep as a whole (its sizes' own ends are in its rows)
    std::string host_api;
    int in_device = -1, out_device = -1;
    std::string in_name, out_name;
    double rate = 0.0;
    int64_t buffer_granted = 0;
    double input_latency_frames = 0.0, output_latency_frames = 0.0;
    bool input_is_monitor = false;
    monitor_trace monitor;         // what --monitor saw: its end's figures and, for the HTML report, its trace
    monitor_progress monitor_end;  // where the monitor stood when it ended
    quality_outcome quality;       // --quality's battery
    sweep_facts sweep;             // --buffers: a row per size
};

// The latency's and the battery's outcomes into the record.
void outcome_take(check_report& report, latency_outcome&& latency);
void outcome_take(check_report& report, battery_outcome&& battery);

// The first loop's runs' statistics.
run_statistics outcome_statistics(const check_report& report);

// The reported round trip (PortAudio's input + output latency) in frames.
double outcome_reported_frames(const check_report& report);
// False when the host reported nonsense (PipeWire's JACK face gives 2^32 - 1024
// frames, a negative number read as unsigned): then there is no excess either.
bool outcome_reported_known(const check_report& report);
