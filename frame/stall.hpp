// Notices a stream that has started but delivers no frames, or only a trickle
// (a JACK server that went away, an ALSA device that never calls back), so that
// the window says so instead of showing a frozen result as a measurement.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

// Frames handed to the program's callback since the stream started. Bumped on
// the audio thread, read by the key loop; relaxed, since it orders no other data.
extern std::atomic<int64_t> stream_frames;
static_assert(std::atomic<int64_t>::is_always_lock_free);

// A stream stalls when, over a window of at least this long, fewer frames
// arrive than half the sample rate's worth: none at all (a JACK server that
// went away) or a trickle (PipeWire's ALSA plugin below its quantum hands out
// a few dozen frames now and then). A window is far longer than any period a
// host API uses (4096 frames last 85 ms), short enough to be told at once.
inline constexpr int64_t stall_window_ms = 1500;
inline constexpr int64_t stall_rate_floor = 24000;  // frames per second, half of 48000

struct stall_watch {
    int64_t frames = -1;   // the count when the current window began; -1 before the first look
    int64_t start_ms = 0;  // when the current window began
    bool stalled = false;  // what the last judged window found
    int64_t window_ms = stall_window_ms;
};

// Looks at the frame count at time now_ms (any steady clock in milliseconds).
// Once a window has lasted watch.window_ms it is judged and a new one begins;
// returns what the last judged window found (false before the first).
bool stall_check(stall_watch& watch, int64_t frames, int64_t now_ms);

// The line shown while the stream stalls: what happened and what to do. On JACK
// that is to restart the server (PortAudio's client does not survive it);
// elsewhere the program's own advice.
std::string stall_message(bool on_jack, std::string_view advice);
