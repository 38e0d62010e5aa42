// How a loopcheck session ends: one table of the statuses, their exit codes,
// their words for a person and their strings in the JSON.
#pragma once
#include <string_view>

enum class check_status {
    ok,
    error,
    bad_options,
    no_loop,
    unstable,
    outside_expected,
    outside_limits,
    monitor_input,
    interrupted,
    glitches,
    monitor_limit,
    max_latency,
    skipped,
    regressed
};

struct check_status_row {
    check_status status;
    int exit_code;
    std::string_view text;  // for a person
    std::string_view json;  // the JSON's "status"
};

inline constexpr check_status_row check_status_table[] = {
    {check_status::ok, 0, "measured", "ok"},
    {check_status::error, 1, "a PortAudio or device error", "error"},
    {check_status::bad_options, 2, "bad options", "bad options"},
    {check_status::no_loop, 3, "no loop found", "no loop"},
    {check_status::unstable, 4, "unstable", "unstable"},
    {check_status::outside_expected, 5, "outside the expected latency", "outside expected"},
    {check_status::outside_limits, 5, "outside the --limits", "outside limits"},
    {check_status::monitor_input, 6, "input is an output's monitor", "monitor input"},
    {check_status::interrupted, 130, "interrupted", "interrupted"},
    // --monitor's verdicts, after a latency that stood.
    {check_status::glitches, 7, "glitches found", "glitches"},
    {check_status::monitor_limit, 5, "beyond --max-glitches or --max-drift", "limit exceeded"},
    // --buffers' gate: no glitch-free buffer size with a round trip within --max-latency-ms.
    {check_status::max_latency, 5, "no glitch-free buffer within --max-latency-ms", "outside max latency"},
    // --skip-if-no-loop: the bench is not set up (no loop wired, no device of that name). 77 is
    // the GNU convention's skip (automake, meson), which no status above uses.
    {check_status::skipped, 77, "skipped: the bench is not set up", "skip"},
    // --baseline: a figure moved the worse way beyond its tolerance and the uncertainty.
    {check_status::regressed, 5, "regressed against the --baseline", "regressed"},
};

// The status's row of the table.
constexpr const check_status_row& check_status_of(check_status status)
{
    for (const check_status_row& row : check_status_table)
        if (row.status == status)
            return row;
    return check_status_table[1];
}

// Which status the session ends with when several modes failed: the first of
// these that any of them reached. What stops the measurement (the device, a
// signal, no loop, a loop that will not hold still) comes before what judges
// it; a loop that is not the cable before any judgement of it; glitches (data
// lost or made up) before a figure outside its tolerance.
inline constexpr check_status check_status_precedence[] = {
    check_status::bad_options,      check_status::error,
    check_status::interrupted,      check_status::skipped,
    check_status::no_loop,          check_status::unstable,
    check_status::monitor_input,    check_status::glitches,
    check_status::outside_expected, check_status::outside_limits,
    check_status::monitor_limit,    check_status::max_latency,
    check_status::regressed,        check_status::ok,
};

// The status's place in check_status_precedence: smaller comes first.
constexpr int check_status_rank(check_status status)
{
    int rank = 0;
    for (const check_status s : check_status_precedence) {
        if (s == status)
            return rank;
        rank++;
    }
    return 0;
}
