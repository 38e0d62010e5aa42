#include "tools/loopdev/loopdev_ring.hpp"

#include <algorithm>
#include <cstring>

std::string loopdev_ring::check(int64_t frame_bytes, int64_t delay, int64_t capacity)
{
    if (frame_bytes <= 0)
        return "a frame of no bytes";
    if (delay < 0)
        return "a negative delay";
    if (capacity <= delay)
        return "a ring of " + std::to_string(capacity) + " frames cannot hold a delay of " + std::to_string(delay);
    return "";
}

loopdev_ring::loopdev_ring(int64_t frame_bytes, int64_t delay, int64_t capacity)
    : frame_bytes_(frame_bytes),
      delay_(delay),
      capacity_(capacity),
      frames_(static_cast<size_t>(frame_bytes * capacity)),
      tags_(static_cast<size_t>(capacity), -1)
{
}

void loopdev_ring::reset() { std::fill(tags_.begin(), tags_.end(), -1); }

void loopdev_ring::write(int64_t index, const unsigned char* frames, int64_t count)
{
    for (int64_t k = 0; k < count; ++k) {
        const int64_t slot = (index + k) % capacity_;
        std::memcpy(&frames_[static_cast<size_t>(slot * frame_bytes_)], frames + k * frame_bytes_,
                    static_cast<size_t>(frame_bytes_));
        tags_[static_cast<size_t>(slot)] = index + k;
    }
}

void loopdev_ring::read(int64_t index, unsigned char* out, int64_t count) const
{
    for (int64_t k = 0; k < count; ++k) {
        const int64_t played = index + k - delay_;
        unsigned char* to = out + k * frame_bytes_;
        const int64_t slot = played >= 0 ? played % capacity_ : 0;
        if (played >= 0 && tags_[static_cast<size_t>(slot)] == played)
            std::memcpy(to, &frames_[static_cast<size_t>(slot * frame_bytes_)], static_cast<size_t>(frame_bytes_));
        else
            std::memset(to, 0, static_cast<size_t>(frame_bytes_));
    }
}

int64_t loopdev_position(int64_t elapsed_ns, int64_t rate, int64_t period)
{
    if (elapsed_ns <= 0)
        return 0;
    constexpr int64_t second = 1'000'000'000;
    // Whole seconds and the rest apart: elapsed_ns * rate would overflow after 53 hours at 48 kHz.
    const int64_t frames = elapsed_ns / second * rate + elapsed_ns % second * rate / second;
    return frames / period * period;
}

int64_t loopdev_period_time(int64_t k, int64_t rate, int64_t period)
{
    constexpr int64_t second = 1'000'000'000;
    const int64_t frames = k * period;
    // The least t with floor(t * rate / 1e9) >= frames: ceil(frames * 1e9 / rate).
    return frames / rate * second + (frames % rate * second + rate - 1) / rate;
}

int64_t loopdev_stream_offset(int64_t capture_start_ns, int64_t playback_start_ns, int64_t rate, int64_t linked_ns)
{
    const int64_t apart = capture_start_ns - playback_start_ns;
    if (apart > -linked_ns && apart < linked_ns)
        return 0;
    constexpr int64_t second = 1'000'000'000;
    // Rounded to nearest, ties away from zero, in whole seconds and the rest (no overflow).
    const int64_t sign = apart < 0 ? -1 : 1;
    const int64_t a = apart * sign;
    return sign * (a / second * rate + (a % second * rate + second / 2) / second);
}

bool loopdev_playback_xrun(int64_t position, int64_t written) { return position > written; }

bool loopdev_capture_xrun(int64_t position, int64_t read, int64_t buffer) { return position - read > buffer; }

int64_t loopdev_playback_avail(int64_t position, int64_t written, int64_t buffer)
{
    return std::max<int64_t>(0, buffer - (written - position));
}

int64_t loopdev_capture_avail(int64_t position, int64_t read) { return std::max<int64_t>(0, position - read); }
