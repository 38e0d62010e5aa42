// How the main thread waits on a running stream, for every mode alike: its
// clock and its pause between looks (the system's, or a script's in tests,
// whose pause drives a scripted stream), the stall rule, and where the
// callback cannot be yet, so that what is scheduled there is played whole,
// and the retry of an attempt the stream spoiled.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "loopcheck/io/stream.hpp"

// No new frames for this long: the stream has stalled.
inline constexpr int64_t stream_stall_ms = 1000;

struct stream_pace {
    std::function<int64_t()> now_ms;        // a steady clock, in milliseconds
    std::function<void(int64_t ms)> pause;  // lets the callback run this long
};

// The steady clock and a sleep.
stream_pace stream_pace_system();

// The stall rule over the frame count, its clock passed in.
struct stream_stall_watch {
    int64_t frames = -1;   // the count last seen to move; -1 before the first look
    int64_t since_ms = 0;  // when it moved
};
// Looks at the count at now_ms: true once it has stood still for more than stream_stall_ms.
bool stream_stall_look(stream_stall_watch& watch, int64_t frames, int64_t now_ms);

// The retry-on-spoiled policy: an attempt that a flagged call, a missed
// cycle or a stall spoiled (capture_spoiled_by) is made again, up to
// stream_attempts in all, and a spoiled last attempt ends the mode unstable.
// Making an attempt again with more signal (a longer sweep) is no retry.
inline constexpr int stream_attempts = 3;

enum class stream_retry { keep, again, give_up };

// What follows attempt (counted from 1) after the stream spoiled it for the
// reason given ("" when nothing did).
stream_retry stream_retry_after(int attempt, std::string_view spoiled);

// A mode's words as it gives up: "unstable: WHAT was spoiled 3 times: why".
std::string stream_retry_given_up(const std::string& what, const std::string& why);

// Waits until the callback has handled frame until - 1; false when the
// stream stalls first (no frames for a second, or a trickle that takes more
// than twice the frames' own time and a second besides) or interrupted is set.
bool stream_wait_frames(const stream& s, int64_t until, const std::atomic<bool>& interrupted, const stream_pace& pace);
