// Inside io/: the callback's state and the callback itself, a full-duplex
// PortAudio callback that only copies. It plays precomputed clips on the
// loops' output channels, copies the loops' input channels into a ring, and
// logs every call the host flagged and every cycle it missed. Its state is
// one struct per stream, handed to PortAudio (or to the JACK process
// callback) as the callback's user data; the stream (struct stream) owns it.
// The tests of the callback and its ring include this header; the modes never do.
#pragma once
#include <portaudio.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analysis/clock_rate.hpp"
#include "loopcheck/io/stream.hpp"

inline constexpr int stream_clip_bits = 6;  // clips 0 .. 63, packed beside the start frame
inline constexpr int64_t stream_no_clip = (int64_t{1} << stream_clip_bits) - 1;
inline constexpr int64_t stream_mark_capacity = 512;
// A mark's kind beside PortAudio's status flags: a cycle the callback missed.
// Marked once the server's counter has stood a buffer ahead for this many calls.
inline constexpr int stream_clock_calls = 4;
inline constexpr unsigned long stream_mark_missed = 1ul << 30;
// The callbacks' times: a ring of (monotonic time, frame) pairs, one at most
// every stream_timed_least_s (more apart on a run asked to be longer than
// the ring holds at that spacing: stream_clock_need).
inline constexpr int64_t stream_timed_capacity = 65536;
inline constexpr double stream_timed_least_s = 0.01;

// A stimulus, frames x loops interleaved (the loop's sample k of frame f at
// f * loops + k). A looping clip plays again from its start when it ends.
struct stream_clip {
    std::vector<float> samples;
    bool looping = false;
};

// One callback's time: the monotonic clock as it began (ns) and its first frame.
struct stream_timed {
    std::atomic<int64_t> ns{0};
    std::atomic<int64_t> frame{0};
};

// One entry of the callback's log: a call with status flags (frames: its
// buffer) or a missed cycle (frames 0, at the first frame after the gap).
struct stream_mark {
    std::atomic<int64_t> frame{0};
    std::atomic<int64_t> frames{0};
    std::atomic<unsigned long> what{0};
};

struct stream_state {
    // Set before the stream starts and fixed while it runs.
    std::vector<stream_clip> clips;
    int loops = 1;
    std::array<int, stream_max_loops> out_channel{}, in_channel{};  // per loop, from 0
    int out_channels = 1, in_channels = 1;                          // the stream's
    std::vector<float> ring;  // the capture, loops interleaved, a power of two of frames
    uint64_t ring_mask = 0;   // frames - 1
    // The server's frame counter at the start of the current cycle (JACK's
    // jack_last_frame_time), where there is one: it moves on by exactly the
    // frames of each cycle, so a cycle the callback never saw shows in it.
    uint32_t (*clock_read)(void* context) = nullptr;
    void* clock_context = nullptr;

    // Shared with the callback. next: the frame the next clip starts at,
    // shifted left by stream_clip_bits, with the clip's index in the low bits,
    // so that the callback never reads one start with another clip. The main
    // thread stores it (release) ahead of the callback; the callback stores the
    // frames it has handled (release) after writing them to the ring, and the
    // count of marks (release) after writing each mark.
    std::atomic<int64_t> next{stream_no_clip};
    std::atomic<int64_t> frames_done{0};
    std::atomic<int64_t> largest_buffer{0};
    std::atomic<int64_t> marks_written{0};
    std::array<stream_mark, stream_mark_capacity> marks;
    std::atomic<int> clock_split_seen{1};  // the most calls in one server cycle so far
    // --load: the share of each call's duration the callback stays busy
    // (stream_load.hpp), set by the main thread while the sweep soaks, 0
    // otherwise; the rate it is reckoned at, and the clock it spins on.
    std::atomic<double> load_share{0.0};
    double load_rate = 0.0;
    int64_t (*load_clock)() = nullptr;  // nullptr: the steady clock

    // The callbacks' times (stream_clock_points): made by stream_prepare, the
    // callback writes an entry, then the count (release); the spacing in
    // frames, fixed while it runs; the clock (a test's, or the steady clock).
    std::unique_ptr<stream_timed[]> timed;
    std::atomic<int64_t> timed_written{0};
    int64_t timed_stride = 1;
    int64_t timed_next = 0;              // the callback's own: the frame from which it records again
    int64_t (*timed_clock)() = nullptr;  // nullptr: the steady clock

    // The callback's own: the server's counter's lead over the frames
    // handled, its least so far, and the calls that have stood a buffer ahead
    // of it (from frame clock_ahead_frame on, the least of their leads).
    bool clock_started = false;
    uint32_t clock_origin = 0, clock_last = 0;
    int64_t clock_base = 0;
    int clock_ahead_calls = 0;
    int clock_cycle_calls = 0, clock_split = 1;  // calls in this cycle, and the most in one cycle so far
    int64_t clock_ahead_frame = 0, clock_ahead_lead = 0;
};
static_assert(std::atomic<int64_t>::is_always_lock_free && std::atomic<unsigned long>::is_always_lock_free &&
              std::atomic<double>::is_always_lock_free);

// The device's side of a stream (stream_open.cpp): PortAudio's stream, or
// loopcheck's own JACK client, and what was started to open it.
struct stream_device;

// The stream: the callback's state (its address is the callback's user data,
// fixed for the stream's life), what it is, what it was asked, and the device's side.
struct stream {
    stream_state state;
    stream_facts facts;
    stream_request request;
    int64_t ring_needed = 0;
    int64_t first_sound = -1;
    stream_device* device = nullptr;    // nullptr for a scripted stream (stream_script.hpp)
    uint32_t script_server_frames = 0;  // a scripted stream's server counter, its clock's context
    double timed_seconds = 0.0;         // the longest run asked of the stream (stream_clock_need)
    int64_t opened_ns = 0;              // the steady clock when it was last asked to open (stream_open, stream_reopen)
};

// Sizes the ring for captures of up to frames and puts the shared state back
// to its start; clips and channels are set by the caller before the stream
// starts. The callbacks' times are kept one every timed_stride frames (at least 1).
void stream_prepare(stream_state& s, int64_t frames, int64_t timed_stride = 1);

// The callbacks' times the ring still holds, oldest first, each marked where
// the log has an xrun or a missed cycle since the one before.
std::vector<clock_point> stream_clock_points(const stream_state& s);

// Plays clip from frame start on; the callback switches at that frame.
void stream_schedule(stream_state& s, int64_t start, int clip);

// Real-time: flushes subnormals on the audio thread, plays the scheduled clip
// where it falls and silence elsewhere and on every other channel, copies the
// loops' input channels into the ring, and logs flagged calls and missed
// cycles; under --load stays busy for its share of the call's duration. No
// allocation, lock, print or wait. user: the stream_state.
int stream_callback(const void* input, void* output, unsigned long frame_count, const PaStreamCallbackTimeInfo* time,
                    PaStreamCallbackFlags flags, void* user);

// A log entry's flags in portable terms (xrun_flag bits).
unsigned stream_mark_xrun_flags(unsigned long what);

// The state's own: frames from..to of one loop, the log within frames, how
// far behind the log is final (as the stream's functions of stream.hpp).
bool stream_capture_copy(const stream_state& s, int64_t from, int64_t to, int loop, std::vector<float>& into);
stream_marks stream_marks_within(const stream_state& s, int64_t from, int64_t to);
int64_t stream_marks_pending_frames(const stream_state& s);

// Sets s's loops and channels from the request's channel lists: at least two
// channels a side where the device has them, and every loop's present; "" or
// the reason (out_device, in_device: how the devices are named in it).
std::string stream_channels_set(stream_state& s, const stream_request& request, int outputs, int inputs,
                                const std::string& out_device, const std::string& in_device);
