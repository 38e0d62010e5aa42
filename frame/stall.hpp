// Notices a stream that has started but delivers no frames (a JACK server that
// went away, an ALSA device that never calls back), so that the window says so
// instead of showing a frozen result as if it were a measurement.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

// Frames handed to the program's callback since the stream started. Bumped on
// the audio thread, read by the key loop; relaxed, since it orders no other data.
extern std::atomic<int64_t> stream_frames;
static_assert(std::atomic<int64_t>::is_always_lock_free);

// No new frame for this long counts as a stall: far longer than any period a
// host API uses (4096 frames last 85 ms), short enough to be told at once.
inline constexpr int64_t stall_after_ms = 1500;

struct stall_watch {
    int64_t frames = -1;     // the count when it last moved; -1 before the first look
    int64_t changed_ms = 0;  // when it last moved (or was first looked at)
};

// Looks at the frame count at time now_ms (any steady clock in milliseconds);
// true while the count has not moved for stall_after_ms.
bool stall_check(stall_watch& watch, int64_t frames, int64_t now_ms);

// The line shown while the stream stalls: what happened and what to do. On JACK
// that is to restart the server (PortAudio's client does not survive it);
// elsewhere the program's own advice.
std::string stall_message(bool on_jack, std::string_view advice);
