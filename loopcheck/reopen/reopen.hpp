// --reopen N: the latency from one start of the stream to the next. Many USB
// interfaces come back from each start with a round trip a millisecond or so
// away from the last, which a measurement inside one stream (--repeat) cannot
// see. N starts: the first on the stream as the session opened it, then N - 1
// times the stream closed and opened again (on JACK and PipeWire a new client,
// its ports registered and connected anew: the server's device is not
// restarted), at each the latency as a plain run measures it and the time
// from the opening to the first callback; the starts' mean, spread and
// whether they agree within their uncertainties. Alone, as --buffers: it
// takes the stream to itself.
#pragma once
#include <any>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "loopcheck/mode.hpp"

std::span<const option_row> reopen_options();

struct reopen_plan {
    int64_t starts = 0;
    std::any latency;  // the latency's plan, as a plain run reads it
};

// One start: its latency (the runs' mean and its uncertainty), or why not.
struct reopen_start {
    bool measured = false;
    double latency_frames = 0.0, uncertainty_frames = 0.0;
    double open_ms = -1.0;  // from the opening to the first callback; -1 not known
    int64_t buffer = 0;     // the most frames the callback was handed
    std::string failure;    // why it was not measured
};

// The starts' figures: over those measured.
struct reopen_statistics {
    int64_t measured = 0;
    double mean = 0.0, min = 0.0, max = 0.0, sd = 0.0;
    // The highest and the lowest start within the sum of their uncertainties.
    bool agree = true;
};

struct reopen_outcome {
    mode_end end;
    reopen_plan plan;
    stream_facts facts;
    std::vector<reopen_start> starts;
};

mode_row reopen_mode();

// The statistics of the starts measured (pure).
reopen_statistics reopen_statistics_of(const std::vector<reopen_start>& starts);
