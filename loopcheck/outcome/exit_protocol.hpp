// The exit statuses a test harness expects, mapped from loopcheck's statuses
// in one table: loopcheck's own (status.hpp, the default), the GNU
// convention's (automake, meson: 0 pass, 77 skip, 99 a hard error, 1 a
// failure) and kselftest's (0 pass, 1 fail, 4 skip). The verdict's fold sets
// the status; main applies the mapping once, at the very end.
#pragma once
#include <string>
#include <string_view>

#include "loopcheck/outcome/status.hpp"

enum class exit_protocol { loopcheck, gnu, kselftest };

struct exit_protocol_row {
    check_status status;
    int gnu;
    int kselftest;
};

// What stops the measurement for a reason of the bench or the program (a
// device error, bad options, an interruption) is GNU's hard error (99);
// kselftest has none, so it is a failure there. Every finding about the
// interface is a failure; the bench not set up is a skip.
inline constexpr exit_protocol_row exit_protocol_table[] = {
    {check_status::ok, 0, 0},
    {check_status::error, 99, 1},
    {check_status::bad_options, 99, 1},
    {check_status::no_loop, 1, 1},
    {check_status::unstable, 1, 1},
    {check_status::outside_expected, 1, 1},
    {check_status::outside_limits, 1, 1},
    {check_status::monitor_input, 1, 1},
    {check_status::interrupted, 99, 1},
    {check_status::glitches, 1, 1},
    {check_status::monitor_limit, 1, 1},
    {check_status::max_latency, 1, 1},
    {check_status::skipped, 77, 4},
    {check_status::regressed, 1, 1},
};

// The process's exit status for status under the protocol.
constexpr int exit_protocol_code(exit_protocol protocol, check_status status)
{
    if (protocol == exit_protocol::loopcheck)
        return check_status_of(status).exit_code;
    for (const exit_protocol_row& row : exit_protocol_table)
        if (row.status == status)
            return protocol == exit_protocol::gnu ? row.gnu : row.kselftest;
    return protocol == exit_protocol::gnu ? 99 : 1;
}

// The protocol named by text ("loopcheck", "gnu", "kselftest"): "" or why not.
inline std::string exit_protocol_read(std::string_view text, exit_protocol& protocol)
{
    if (text == "loopcheck")
        protocol = exit_protocol::loopcheck;
    else if (text == "gnu")
        protocol = exit_protocol::gnu;
    else if (text == "kselftest")
        protocol = exit_protocol::kselftest;
    else
        return "--exit-protocol: \"" + std::string(text) + "\" is not one of loopcheck, gnu, kselftest";
    return "";
}
