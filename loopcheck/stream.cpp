// The callback and the capture ring.
#include "loopcheck/stream.hpp"

#include <algorithm>
#include <limits>

#include "frame/realtime.hpp"

std::vector<float> stream_sweep;
std::vector<float> stream_long_sweep;
std::vector<float> stream_ring;
int stream_out_channels = 1, stream_out_channel = 0, stream_in_channels = 1, stream_in_channel = 0;

std::atomic<int64_t> stream_sweep_next{std::numeric_limits<int64_t>::max() & ~int64_t{1}};
std::atomic<int64_t> stream_frames_done{0};
std::atomic<int64_t> stream_flagged_frame{-1};
std::atomic<unsigned long> stream_flags_seen{0};
std::atomic<int64_t> stream_largest_buffer{0};
std::atomic<int64_t> stream_skipped_frame{-1};
double stream_clock_rate = 0.0;

namespace {
uint64_t ring_mask = 0;
// The callback's own: the last call's input clock and frame count.
double last_input_time = -1.0;
int64_t last_frame_count = 0;
}

void stream_sweep_schedule(int64_t start, bool long_sweep)
{
    stream_sweep_next.store(start * 2 + (long_sweep ? 1 : 0), std::memory_order_release);
}

void stream_prepare(std::span<const float> sweep, std::span<const float> long_sweep, int64_t frames)
{
    stream_sweep.assign(sweep.begin(), sweep.end());
    stream_long_sweep.assign(long_sweep.begin(), long_sweep.end());
    size_t size = 1;
    while (size < static_cast<size_t>(frames))
        size *= 2;
    stream_ring.assign(size, 0.0f);
    ring_mask = size - 1;
    stream_sweep_next.store(std::numeric_limits<int64_t>::max() & ~int64_t{1});
    stream_frames_done.store(0);
    stream_flagged_frame.store(-1);
    stream_flags_seen.store(0);
    stream_largest_buffer.store(0);
    stream_skipped_frame.store(-1);
    last_input_time = -1.0;
    last_frame_count = 0;
}

int stream_callback(const void* input, void* output, unsigned long frame_count, const PaStreamCallbackTimeInfo* time,
                    PaStreamCallbackFlags flags, void*)
{
    realtime_thread_prepare();
    const int64_t first = stream_frames_done.load(std::memory_order_relaxed);
    // Read once per call: the main thread sets a start well beyond this buffer.
    const int64_t next = stream_sweep_next.load(std::memory_order_acquire);
    const int64_t start = next >> 1;
    const std::vector<float>& sweep = (next & 1) ? stream_long_sweep : stream_sweep;
    const int64_t sweep_frames = static_cast<int64_t>(sweep.size());
    const auto* in = static_cast<const float*>(input);
    auto* out = static_cast<float*>(output);
    const int64_t count = static_cast<int64_t>(frame_count);
    for (int64_t i = 0; i < count; i++) {
        const int64_t frame = first + i;
        if (out) {
            float* o = out + i * stream_out_channels;
            std::fill(o, o + stream_out_channels, 0.0f);
            if (frame >= start && frame - start < sweep_frames)
                o[stream_out_channel] = sweep[frame - start];
        }
        stream_ring[static_cast<uint64_t>(frame) & ring_mask] =
            in ? in[i * stream_in_channels + stream_in_channel] : 0.0f;
    }
    // The output's priming at the start is not a dropout.
    const PaStreamCallbackFlags trouble = flags & ~static_cast<PaStreamCallbackFlags>(paPrimingOutput);
    if (trouble) {
        stream_flagged_frame.store(first, std::memory_order_relaxed);
        stream_flags_seen.fetch_or(trouble, std::memory_order_relaxed);
    }
    // Half a buffer more than the last call's frames: a cycle went missing.
    if (stream_clock_rate > 0.0 && time && time->inputBufferAdcTime > 0.0) {
        const double expected = static_cast<double>(last_frame_count) / stream_clock_rate;
        if (last_input_time >= 0.0 && time->inputBufferAdcTime - last_input_time > 1.5 * expected)
            stream_skipped_frame.store(first, std::memory_order_relaxed);
        last_input_time = time->inputBufferAdcTime;
        last_frame_count = count;
    }
    if (count > stream_largest_buffer.load(std::memory_order_relaxed))
        stream_largest_buffer.store(count, std::memory_order_relaxed);
    stream_frames_done.store(first + count, std::memory_order_release);
    return paContinue;
}

void stream_capture_copy(int64_t from, int64_t to, std::vector<float>& into)
{
    into.resize(static_cast<size_t>(std::max<int64_t>(0, to - from)));
    for (int64_t f = from; f < to; f++)
        into[f - from] = stream_ring[static_cast<uint64_t>(f) & ring_mask];
}
