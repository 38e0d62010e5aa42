// The stream's log entries in portable terms: what the monitor hands on and
// the report words, without the host's own flags.
#pragma once

// What the stream's log said of one entry, in portable terms (the stream maps
// its host's flags to these): a call the host flagged, or a cycle missed.
enum xrun_flag : unsigned {
    xrun_input_overflow = 1u,
    xrun_input_underflow = 2u,
    xrun_output_underflow = 4u,
    xrun_output_overflow = 8u,
    xrun_missed_cycle = 16u,
};
