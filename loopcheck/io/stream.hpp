// loopcheck's audio side: a full-duplex PortAudio callback that only copies.
// It plays precomputed clips on the loops' output channels, copies the loops'
// input channels into a ring, and logs every call the host flagged and every
// cycle it missed. Its state is one struct per stream, handed to PortAudio as
// the callback's user data and owned by whoever opened the stream.
#pragma once
#include <portaudio.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr int stream_max_loops = 8;  // the most loops one stream carries
inline constexpr int stream_clip_bits = 6;  // clips 0 .. 63, packed beside the start frame
inline constexpr int64_t stream_no_clip = (int64_t{1} << stream_clip_bits) - 1;
inline constexpr int64_t stream_mark_capacity = 512;
// A mark's kind beside PortAudio's status flags: a cycle the callback missed.
// Marked once the server's counter has stood a buffer ahead for this many calls.
inline constexpr int stream_clock_calls = 4;
inline constexpr unsigned long stream_mark_missed = 1ul << 30;

// A stimulus, frames x loops interleaved (the loop's sample k of frame f at
// f * loops + k). A looping clip plays again from its start when it ends.
struct stream_clip {
    std::vector<float> samples;
    bool looping = false;
};

// What the stream is asked for: the devices, each loop's channels, the rate
// and the buffer. The session makes it from the command line; nothing in
// the stream's layer sees more of it.
struct stream_request {
    std::string device, in_device, out_device;             // index or a unique part of the name; "" for the default
    std::vector<int64_t> out_channels{1}, in_channels{1};  // 1-based, the k-th of each paired into loop k
    double rate = 0.0;                                     // 0: the device's own
    int64_t buffer = 0;       // the latency asked of the host API, in frames; 0: its low-latency choice
    bool two_clocks = false;  // two ALSA cards allowed (the monitor measures their drift)
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

// What the log holds for a stretch of frames.
struct stream_marks {
    int64_t flagged = 0;            // calls with under- or overflow flags whose buffer overlaps it
    int64_t missed = 0;             // gaps from missed cycles inside it
    int64_t first = -1, last = -1;  // the frames of the first and last of them
    unsigned long flags = 0;        // their PortAudio flags together
    bool lost = false;              // the log overflowed: more happened than it kept
};

// Sizes the ring for captures of up to frames and puts the shared state back
// to its start; clips and channels are set by the caller before the stream starts.
void stream_prepare(stream_state& s, int64_t frames);

// Plays clip from frame start on; the callback switches at that frame.
void stream_schedule(stream_state& s, int64_t start, int clip);

// Real-time: flushes subnormals on the audio thread, plays the scheduled clip
// where it falls and silence elsewhere and on every other channel, copies the
// loops' input channels into the ring, and logs flagged calls and missed
// cycles; under --load stays busy for its share of the call's duration. No
// allocation, lock, print or wait. user: the stream_state.
int stream_callback(const void* input, void* output, unsigned long frame_count, const PaStreamCallbackTimeInfo* time,
                    PaStreamCallbackFlags flags, void* user);

// A log entry's flags in portable terms (xrun_flag bits of outcome/monitor_trace.hpp).
unsigned stream_mark_xrun_flags(unsigned long what);

// Frames from..to (absolute frame numbers) of one loop's capture. False when
// they are not all in the ring any more (or not yet).
bool stream_capture_copy(const stream_state& s, int64_t from, int64_t to, int loop, std::vector<float>& into);

// The flagged calls and missed cycles within frames from..to - 1.
stream_marks stream_marks_within(const stream_state& s, int64_t from, int64_t to);

// How far behind the frames handled the log is final: a missed cycle is
// marked only once the server's counter has stood ahead for several calls,
// so frames newer than this may still gain a mark.
int64_t stream_marks_pending_frames(const stream_state& s);
