// --buffers: the latency and a soak at each buffer size in turn, a row per
// size as a reviewer's table has it, and the smallest safe one. A mode alone:
// it takes the session to itself. At each size it sets the host's size (the
// JACK server's own, through the server-buffer seam, io/server_buffer.hpp;
// elsewhere the stream's), opens the stream again at it, and calls the
// latency's and the monitor's run and judge; the host's size is put back on
// every way out, an interruption included.
#pragma once
#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <vector>

#include "analysis/monitor.hpp"
#include "loopcheck/io/server_buffer.hpp"
#include "loopcheck/mode.hpp"

std::span<const option_row> buffers_options();

// A soak that checked less than this (seconds of the stimulus compared) is
// too short to call its size safe: the row says so.
inline constexpr double buffers_least_checked_s = 1.0;

// What the command line asks of it, and (prepare) the latency's and the
// monitor's plans, their clips given to the stream.
struct buffers_plan {
    bool all = false;            // --buffers all: every power of two the host grants
    std::vector<int64_t> sizes;  // in the order given, none twice
    double soak_s = 10.0;
    double load_percent = 0.0;                                      // of every period, while soaking
    double max_latency_ms = -1.0;                                   // -1: no gate
    std::any latency, monitor;                                      // the plans of the modes it runs at each size
    const server_buffer_backend* server = &server_buffer_system();  // the seam; a test's fake server instead
};

// One buffer size: the latency measured at it, then the soak.
struct buffers_row {
    int64_t requested = 0;
    int64_t granted = 0;   // the buffer the callback was handed (the most frames in a call); 0: none seen
    bool refused = false;  // the host would not set this size: nothing measured at it
    std::string reason;    // why it was refused, not measured or not soaked ("" when it was)
    check_status failure = check_status::ok;  // the size's own status, where it was not measured
    // The round trip, as the plain run reports it, where it stood.
    bool measured = false;
    double latency_frames = 0.0, uncertainty_frames = 0.0, rate = 0.0;
    bool excess_known = false;
    double excess_frames = 0.0;  // over stream_excess_base_frames (JACK's ports, else the host API's)
    int64_t runs = 0;
    // The soak, where it ran: to its end, and on a stimulus it recognised (a
    // loop that glitches before the monitor has locked on never is), long
    // enough to judge (buffers_least_checked_s).
    bool soaked = false, found = false, judged = false;
    double soak_s = 0.0;  // checked: the stimulus's frames compared, in seconds
    std::array<int64_t, monitor_kinds> by_kind{};
    int64_t glitches = 0;  // the detector's events and the capture's overruns
    int64_t xruns = 0;     // flagged calls and missed cycles
    // The interface's clock against the system's over the size's stream (its
    // latency and soak together), where it ran clock_rate_least_s or more.
    clock_rate clock;
};

// The sweep as a whole: the sizes in the order measured, and the host's own
// size before it and after (on JACK the whole server's).
struct buffers_outcome {
    mode_end end;
    buffers_plan plan;
    stream_facts facts;        // the stream the sizes ran on
    bool server_wide = false;  // the size is a JACK server's, every client's
    std::string server;        // how the output names it ("the JACK server")
    int64_t original = 0;      // its size before the sweep; 0: not known (the stream's own)
    bool restored = false;     // put back to original
    std::string restore_problem;
    std::vector<buffers_row> rows;
};

mode_row buffers_mode();

// The sizes asked: the list, or for all every power of two from 16 to 8192.
std::vector<int64_t> buffers_sizes(const buffers_plan& plan);

// A row is safe when its latency stood and its soak ran to the end on its
// stimulus, long enough to judge, with no glitch, overrun or xrun.
bool buffers_row_safe(const buffers_row& row);
// The round trip of a measured row in ms.
double buffers_row_ms(const buffers_row& row);
// The safe row with the smallest granted buffer (the earliest of equals); nullptr when none is safe.
const buffers_row* buffers_smallest_safe(const buffers_outcome& o);

// The row of the size requested, from its latency's and soak's outcomes and
// judgements (the soak's none where it did not run). server: the JACK
// server's size during it, or 0 where the stream's own buffer was set (then
// the callback's buffer is what was granted).
struct buffers_size_run {
    const std::any* latency = nullptr;
    const mode_judgement* latency_judged = nullptr;
    const std::any* soak = nullptr;
    const mode_judgement* soak_judged = nullptr;
};
buffers_row buffers_row_of(const buffers_size_run& size, int64_t requested, int64_t server, int64_t granted);

// The sweep's end from its rows, once every size asked has run or the sweep
// was cut short: no size the host would set is an error (the host cannot
// change its size); no size measured takes the first size's failure; an
// interruption is the sweep's.
mode_end buffers_end_of(const buffers_outcome& o, bool interrupted, const mode_end& first_failure);

// Its judgement: how it ended, each row a record, and the gate (a safe size within --max-latency-ms).
mode_judgement buffers_judge(const buffers_outcome& o);

// Its words (buffers_report.cpp): one size's line as the sweep goes; the
// table with the smallest safe buffer and what was done to the host's size;
// -q's number; its keys of the JSON: buffers, smallest_safe_buffer, buffer_sweep.
std::string buffers_row_text(const buffers_row& row);
std::string buffers_text(const buffers_outcome& o, const mode_judgement& j, text_part part);
std::string buffers_quiet(const buffers_outcome& o, check_status session);
void buffers_json(const buffers_outcome& o, const mode_judgement& j, nlohmann::ordered_json& report);

// Its section of the page (buffers_html.cpp), and its plot: each measured
// size's round trip (ms) against its granted buffer on a log axis, safe sizes
// as green points, the others red with a line saying how many glitches and
// xruns their soak had. False with none measured.
void buffers_html(report_page& page, const buffers_outcome& o, const mode_judgement& j, html_part part);
struct report_plot;
bool buffers_plot(const buffers_outcome& o, report_plot& out);
