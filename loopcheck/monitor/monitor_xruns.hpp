// The stream's log as incidents: a cycle the callback missed and the call the
// host flagged for it (an input overflow, an output underflow on the call
// after the gap) are one xrun, not two. The missed cycle is marked only some
// calls after its gap, so the log holds the two out of time order: entries
// wait until the log is final past them, then go out in time order.
#pragma once
#include <cstdint>
#include <vector>

struct monitor_xrun_entry {
    int64_t frame = 0;
    unsigned what = 0;  // xrun_flag bits
};

struct monitor_xruns {
    std::vector<monitor_xrun_entry> pending;  // read from the log, not yet final
    int64_t incidents = 0;                    // handed on so far
};

// Notes an entry of the log (in the log's order).
void monitor_xruns_add(monitor_xruns& x, monitor_xrun_entry e);

// The incidents wholly before frame final (all: every one left), in time
// order, into out: a missed cycle and one flagged call within buffer frames
// of it folded into one (their bits together, at the earlier frame).
void monitor_xruns_take(monitor_xruns& x, int64_t final, int64_t buffer, bool all,
                        std::vector<monitor_xrun_entry>& out);

// The incidents so far: handed on, and those pending as they stand.
int64_t monitor_xruns_count(const monitor_xruns& x, int64_t buffer);
