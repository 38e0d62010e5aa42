// loopcheck's capture ring read by the main thread while another thread plays
// the audio thread's part (run under ThreadSanitizer too): what the main
// thread copies is what the callback wrote, and the sweep starts where the
// main thread set it, whatever the buffer the callback was in.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "loopcheck/io/stream_state.hpp"

TEST(LoopcheckRing, TheMainThreadCopiesWhatTheCallbackWrote)
{
    const auto s = std::make_unique<stream_state>();
    s->clips.push_back({std::vector<float>(100, 1.0f), false});
    stream_prepare(*s, 1 << 20);
    std::atomic<bool> stop{false};
    std::thread audio([&stop, &s] {
        std::vector<float> in(64), out(64);
        while (!stop.load()) {
            // The input carries its own frame number, as a loop of 0 frames would.
            const int64_t first = s->frames_done.load();
            for (int64_t i = 0; i < 64; i++)
                in[i] = static_cast<float>((first + i) % 4096);
            stream_callback(in.data(), out.data(), 64, nullptr, 0, s.get());
            std::this_thread::yield();
        }
    });
    std::vector<float> copy;
    for (int round = 0; round < 20; round++) {
        const int64_t start = s->frames_done.load(std::memory_order_acquire) + 1000;
        stream_schedule(*s, start, 0);
        while (s->frames_done.load(std::memory_order_acquire) < start + 2000)
            std::this_thread::yield();
        ASSERT_TRUE(stream_capture_copy(*s, start - 500, start + 2000, 0, copy));
        for (int64_t i = 0; i < 2500; i++)
            ASSERT_EQ(copy[i], static_cast<float>((start - 500 + i) % 4096)) << "round " << round << " frame " << i;
    }
    stop.store(true);
    audio.join();
}

// The callbacks' times read by the main thread while the callback writes
// them (ThreadSanitizer's case): every pair read is one the callback wrote,
// in order, whatever the moment.
TEST(LoopcheckRing, TheMainThreadReadsTheCallbacksTimesAsWritten)
{
    const auto s = std::make_unique<stream_state>();
    stream_prepare(*s, 4096, 1);
    std::atomic<bool> stop{false};
    std::thread audio([&stop, &s] {
        std::vector<float> in(64), out(64);
        while (!stop.load()) {
            stream_callback(in.data(), out.data(), 64, nullptr, 0, s.get());
            std::this_thread::yield();
        }
    });
    for (int round = 0; round < 200; round++) {
        const std::vector<clock_point> points = stream_clock_points(*s);
        for (size_t i = 1; i < points.size(); i++) {
            ASSERT_EQ(points[i].frame, points[i - 1].frame + 64) << "round " << round;
            ASSERT_GE(points[i].ns, points[i - 1].ns) << "round " << round;
        }
        std::this_thread::yield();
    }
    stop.store(true);
    audio.join();
}
