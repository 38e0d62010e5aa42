// loopcheck's audio side: the sweep played and the capture kept by a
// full-duplex PortAudio callback that only copies, and the main thread's view
// of both.
#pragma once
#include <portaudio.h>

#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

// Program-wide state, set before the stream starts and fixed while it runs.
extern std::vector<float> stream_sweep;       // the sweep of a measurement of the delay
extern std::vector<float> stream_long_sweep;  // and the one for a response, or for a weak loop
extern std::vector<float> stream_ring;    // the capture, a power of two long
extern int stream_out_channels, stream_out_channel, stream_in_channels, stream_in_channel;

// Shared with the callback. The next sweep: the frame it starts at, shifted
// left by one, with the long sweep's choice in the lowest bit, so that the
// callback never reads one start with the other sweep. The main thread stores
// it (release, by stream_sweep_schedule) always ahead of the callback; the
// callback stores the frames it has handled (release) after writing them to
// the ring.
extern std::atomic<int64_t> stream_sweep_next;
extern std::atomic<int64_t> stream_frames_done;
extern std::atomic<int64_t> stream_flagged_frame;  // the first frame of the last call with under- or overflow flags
extern std::atomic<unsigned long> stream_flags_seen;  // the flags of every such call since the main thread cleared them
extern std::atomic<int64_t> stream_largest_buffer;
// The first frame of the last call after which the input's clock had moved on
// further than the frames delivered: cycles the callback missed (a JACK server
// skips a late client's cycles), which shift the loop's timing as the frames
// count it without any status flag. Watched only where stream_clock_rate is set.
extern std::atomic<int64_t> stream_skipped_frame;
extern double stream_clock_rate;  // the stream's rate, or 0 not to watch the clock
static_assert(std::atomic<int64_t>::is_always_lock_free && std::atomic<unsigned long>::is_always_lock_free);

// Plays the (long) sweep from frame start on, once the previous one has ended.
void stream_sweep_schedule(int64_t start, bool long_sweep);

// Keeps the two sweeps, sizes the ring for captures of up to frames, and puts
// the state back to its start.
void stream_prepare(std::span<const float> sweep, std::span<const float> long_sweep, int64_t frames);

// Real-time: flushes subnormals on the audio thread, plays the sweep where it falls, silence elsewhere and on every
// other channel; copies the loop's input channel into the ring; counts the
// status flags. No allocation, lock, print or wait.
int stream_callback(const void* input, void* output, unsigned long frame_count, const PaStreamCallbackTimeInfo* time,
                    PaStreamCallbackFlags flags, void*);

// Frames from..to (absolute frame numbers) of the capture, which must still be in the ring.
void stream_capture_copy(int64_t from, int64_t to, std::vector<float>& into);
