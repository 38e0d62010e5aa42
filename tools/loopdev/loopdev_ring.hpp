// loopdev: the rig's timed ALSA loop device (an ioplug plugin, loopdev_plugin.cpp)
// and, here, its logic with no ALSA in it, so that it is unit-tested offline.
//
// The device is a sound card with a D-frame converter path and a loop cable
// from its output to its input: the frame the playback stream plays at
// stream index i is the frame the capture stream captures at index i + D. The
// ring holds the played frames by their index (each slot tagged with it), so
// that a frame never played (before the start, a playback underrun, or one
// overwritten a lap later) is read back as silence, never as another's.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class loopdev_ring {
public:
    // frame_bytes: one frame of every channel; capacity: slots, at least
    // delay + the largest buffer the streams will hold (else "" is not returned).
    static std::string check(int64_t frame_bytes, int64_t delay, int64_t capacity);
    loopdev_ring(int64_t frame_bytes, int64_t delay, int64_t capacity);

    // A new playback stream (prepared again after an xrun): every slot empty.
    void reset();
    // The playback stream's frames index .. index + count - 1.
    void write(int64_t index, const unsigned char* frames, int64_t count);
    // The capture stream's frames index .. index + count - 1: the frames
    // played at index - delay, silence (zero bytes) where none was.
    void read(int64_t index, unsigned char* out, int64_t count) const;

    int64_t delay() const { return delay_; }
    int64_t frame_bytes() const { return frame_bytes_; }

private:
    int64_t frame_bytes_, delay_, capacity_;
    std::vector<unsigned char> frames_;
    std::vector<int64_t> tags_;  // the stream index each slot holds, -1 for none
};

// The device's clock: a stream's hardware position after elapsed_ns of
// running at rate, in whole periods (the device moves a period at a time, as a
// card's DMA interrupts do). Exact for any elapsed time (no overflow).
int64_t loopdev_position(int64_t elapsed_ns, int64_t rate, int64_t period);
// The time from the start, in ns, at which the position reaches period k
// (the first nanosecond at which loopdev_position is k * period).
int64_t loopdev_period_time(int64_t k, int64_t rate, int64_t period);
// The capture stream's index less the playback stream's for the same instant:
// a card's two streams run on one clock, so a frame captured at capture index
// i was played at playback index i - delay + this. Streams started within
// linked_ns of each other started together (jackd starts its two back to
// back, as snd_pcm_link would): 0. Else the time between the starts in
// frames, to the nearest (PipeWire starts its sink and source apart).
int64_t loopdev_stream_offset(int64_t capture_start_ns, int64_t playback_start_ns, int64_t rate, int64_t linked_ns);
// An xrun: the playback position passed the frames written (an underrun), or
// the capture position ran more than a buffer ahead of the frames read.
bool loopdev_playback_xrun(int64_t position, int64_t written);
bool loopdev_capture_xrun(int64_t position, int64_t read, int64_t buffer);
// Frames ready to the application: room to write, or frames to read.
int64_t loopdev_playback_avail(int64_t position, int64_t written, int64_t buffer);
int64_t loopdev_capture_avail(int64_t position, int64_t read);
