// What the buffer sweep (--buffers) found: one row per size asked for, as a
// reviewer's table has it, and what the sweep did to the host's setting.
// Data only: the session fills it in size by size, the verdict judges it
// and the renderers show it.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/monitor.hpp"
#include "loopcheck/outcome/status.hpp"

// One buffer size: the latency measured at it, then the soak.
struct sweep_row {
    int64_t requested = 0;
    int64_t granted = 0;   // the buffer the callback was handed (the most frames in a call); 0: none seen
    bool refused = false;  // the host would not set this size: nothing measured at it
    std::string reason;    // why it was refused, not measured or not soaked ("" when it was)
    check_status failure = check_status::ok;  // the size's own session's status, where it was not measured
    // The round trip, as the plain run reports it, where it stood.
    bool measured = false;
    double latency_frames = 0.0, uncertainty_frames = 0.0, rate = 0.0;
    bool excess_known = false;
    double excess_frames = 0.0;  // over the host's reported input + output latency
    int64_t runs = 0;
    // The soak, where it ran: to its end, and on a stimulus it recognised (a
    // loop that glitches before the monitor has locked on never is).
    bool soaked = false, found = false;
    double soak_s = 0.0;  // checked: the stimulus's frames compared, in seconds
    std::array<int64_t, monitor_kinds> by_kind{};
    int64_t glitches = 0;  // the detector's events and the capture's overruns
    int64_t xruns = 0;     // flagged calls and missed cycles
};

// The sweep as a whole: the sizes in the order measured, and the host's own
// size before it and after (on JACK the whole server's).
struct sweep_facts {
    bool on = false;
    bool server_wide = false;  // the size is a JACK server's, every client's
    std::string server;        // how the output names it ("the JACK server")
    int64_t original = 0;      // its size before the sweep; 0: not known (the stream's own)
    bool restored = false;     // put back to original
    std::string restore_problem;
    double soak_s = 0.0, load_percent = 0.0;
    std::vector<sweep_row> rows;
};

// A row is safe when its latency stood and its soak ran to the end on its
// stimulus with no glitch, overrun or xrun.
bool sweep_row_safe(const sweep_row& row);

// The round trip of a measured row in ms.
double sweep_row_ms(const sweep_row& row);

// The safe row with the smallest granted buffer (the earliest of equals);
// nullptr when none is safe.
const sweep_row* sweep_smallest_safe(const sweep_facts& facts);
