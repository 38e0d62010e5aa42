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
    monitor_limit
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
};

// The status's row of the table.
constexpr const check_status_row& check_status_of(check_status status)
{
    for (const check_status_row& row : check_status_table)
        if (row.status == status)
            return row;
    return check_status_table[1];
}

// True when the session measured the loop: its latency stands, whatever the verdict on it.
constexpr bool check_status_measured(check_status status)
{
    return status == check_status::ok || status == check_status::outside_expected ||
           status == check_status::outside_limits || status == check_status::monitor_input ||
           status == check_status::glitches || status == check_status::monitor_limit;
}
