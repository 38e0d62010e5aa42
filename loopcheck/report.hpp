// What loopcheck found, as a person reads it and as JSON for scripts.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/analyse.hpp"
#include "loopcheck/options.hpp"
#include "analysis/response.hpp"

// A sample within 0.1 dB of full scale is clipping; above -3 dBFS a note.
inline constexpr double clipping_level = 0.98855309465693886;  // 10^(-0.1 / 20)
inline constexpr double near_clipping_level = 0.70794578438413791;  // 10^(-3 / 20)

struct run_report {
    run_result result;
    int attempts = 1;
    std::vector<std::string> dropouts;  // what spoiled the attempts before the one kept
    int64_t sweep_frames = 0;           // the sweep's length
    bool lengthened = false;            // measured again with the long sweep: the short one left it weak
};

struct check_report {
    check_options options;
    std::string status = "ok", message;  // "ok", "no loop", "unstable", "outside expected", "error"
    int exit_status = 0;
    std::string host_api;
    int in_device = -1, out_device = -1;
    std::string in_name, out_name;
    double rate = 0.0;
    int64_t buffer_granted = 0;
    double input_latency_frames = 0.0, output_latency_frames = 0.0;
    std::vector<run_report> runs;
    bool input_is_monitor = false;
    bool has_response = false, response_valid = false;
    response_summary response;
};

struct run_statistics {
    double mean = 0.0, min = 0.0, max = 0.0, sd = 0.0;  // of the latency, frames
    double gain_db = 0.0;                               // the runs' mean gain (of |H|, in dB)
};
run_statistics report_statistics(const check_report& report);

// The reported round trip (PortAudio's input + output latency) in frames.
double report_reported_frames(const check_report& report);
// False when the host reported nonsense (PipeWire's JACK face gives 2^32 - 1024
// frames, a negative number read as unsigned): then there is no excess either.
bool report_reported_known(const check_report& report);

// One run's two lines (with its number, from 1).
std::string report_run_text(const check_report& report, size_t run);
// The summary line, the warnings and the verdict (everything after the runs).
std::string report_tail_text(const check_report& report);
// The whole report as one JSON object (a line of its own).
std::string report_json(const check_report& report);
