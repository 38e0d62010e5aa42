// The rig's timed loop device's logic (tools/loopdev): what is played at
// stream index i is captured at i + delay, across the ring's wrap, and
// silence (never another lap's frame) where nothing was played there; the
// device's clock in whole periods, exact over long runs; its xruns.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tools/loopdev/loopdev_ring.hpp"

namespace {

// A frame of two 4-byte channels whose bytes name the index it was played at.
std::vector<unsigned char> frames_of(int64_t first, int64_t count)
{
    std::vector<unsigned char> out(static_cast<size_t>(count * 8));
    for (int64_t k = 0; k < count; ++k)
        for (int b = 0; b < 8; ++b)
            out[static_cast<size_t>(k * 8 + b)] = static_cast<unsigned char>((first + k) * 7 + b + 1);
    return out;
}

}  // namespace

TEST(LoopdevRing, CapturesWhatWasPlayedDelayFramesEarlierOrSilence)
{
    struct row {
        const char* what;
        int64_t delay, capacity;
        std::vector<std::pair<int64_t, int64_t>> writes;  // played: first index, count
        int64_t read_from, read_count;
        std::vector<int64_t> expected;  // the played index each captured frame holds, -1 for silence
    };
    const row rows[] = {
        {"no delay", 0, 16, {{0, 8}}, 2, 4, {2, 3, 4, 5}},
        {"delay 3", 3, 16, {{0, 8}}, 2, 4, {-1, 0, 1, 2}},
        {"before the first frame played", 5, 16, {{0, 4}}, 0, 5, {-1, -1, -1, -1, -1}},
        {"across the ring's wrap", 4, 8, {{0, 6}, {6, 6}}, 12, 4, {8, 9, 10, 11}},
        {"a frame a lap old reads as silence", 2, 8, {{0, 8}, {8, 3}}, 9, 4, {7, 8, 9, 10}},
        {"overwritten by the next lap", 10, 12, {{0, 12}, {12, 12}}, 21, 4, {-1, 12, 13, 14}},
        {"an underrun's gap reads as silence", 1, 32, {{0, 4}, {8, 4}}, 4, 6, {3, -1, -1, -1, -1, 8}},
        {"written in pieces, read in one", 2, 16, {{0, 1}, {1, 2}, {3, 5}}, 2, 6, {0, 1, 2, 3, 4, 5}},
    };
    for (const row& r : rows) {
        ASSERT_EQ(loopdev_ring::check(8, r.delay, r.capacity), "") << r.what;
        loopdev_ring ring(8, r.delay, r.capacity);
        for (auto [first, count] : r.writes)
            ring.write(first, frames_of(first, count).data(), count);
        std::vector<unsigned char> got(static_cast<size_t>(r.read_count * 8), 0xAB);
        ring.read(r.read_from, got.data(), r.read_count);
        for (int64_t k = 0; k < r.read_count; ++k) {
            const int64_t played = r.expected[static_cast<size_t>(k)];
            const std::vector<unsigned char> want =
                played < 0 ? std::vector<unsigned char>(8, 0) : frames_of(played, 1);
            EXPECT_EQ(std::vector<unsigned char>(got.begin() + k * 8, got.begin() + k * 8 + 8), want)
                << r.what << ": captured frame " << r.read_from + k;
        }
    }
}

TEST(LoopdevRing, ResetForgetsEveryFrameAndTheRingRefusesWhatCannotHold)
{
    loopdev_ring ring(8, 2, 16);
    ring.write(0, frames_of(0, 8).data(), 8);
    ring.reset();
    std::vector<unsigned char> got(8 * 4, 0xAB);
    ring.read(2, got.data(), 4);
    EXPECT_EQ(got, std::vector<unsigned char>(8 * 4, 0));

    EXPECT_NE(loopdev_ring::check(0, 0, 16), "");
    EXPECT_NE(loopdev_ring::check(8, -1, 16), "");
    EXPECT_NE(loopdev_ring::check(8, 16, 16), "");
    EXPECT_EQ(loopdev_ring::check(8, 15, 16), "");
}

TEST(LoopdevClock, MovesAPeriodAtATimeExactlyOverLongRuns)
{
    constexpr int64_t s = 1'000'000'000;
    struct row {
        int64_t elapsed_ns, rate, period, position;
    };
    const row rows[] = {
        {0, 48000, 256, 0},
        {-5, 48000, 256, 0},
        {5'333'333, 48000, 256, 0},    // 255.99998 frames: not yet a period
        {5'333'334, 48000, 256, 256},  // 256.00003
        {s, 48000, 256, 47872},        // 48000 frames: 187 whole periods
        {s, 44100, 1, 44100},
        {100 * 3600 * s, 48000, 64, 100LL * 3600 * 48000},  // 100 hours: no overflow
        {100 * 3600 * s + 1, 192000, 64, 100LL * 3600 * 192000},
    };
    for (const row& r : rows)
        EXPECT_EQ(loopdev_position(r.elapsed_ns, r.rate, r.period), r.position)
            << r.elapsed_ns << " ns at " << r.rate << " Hz, period " << r.period;
    // The wake-up time of period k is the first nanosecond the position reaches it.
    for (const int64_t rate : {44100, 48000, 96000})
        for (const int64_t period : {64, 256, 1000})
            for (const int64_t k : {1, 2, 3, 187, 1000001}) {
                const int64_t t = loopdev_period_time(k, rate, period);
                EXPECT_EQ(loopdev_position(t, rate, period), k * period) << rate << " " << period << " " << k;
                EXPECT_EQ(loopdev_position(t - 1, rate, period), (k - 1) * period) << rate << " " << period << " " << k;
            }
}

TEST(LoopdevClock, XrunsAndWhatIsReady)
{
    struct row {
        bool playback;
        int64_t position, appl, buffer;
        bool xrun;
        int64_t avail;
    };
    const row rows[] = {
        {true, 0, 512, 512, false, 0},      // the buffer full of silence before the start
        {true, 256, 512, 512, false, 256},  // a period played: a period's room
        {true, 512, 512, 512, false, 512},  // just in time
        {true, 768, 512, 512, true, 768},   // played past what was written
        {false, 256, 0, 512, false, 256},  {false, 512, 0, 512, false, 512},  // the buffer full, not yet lost
        {false, 768, 0, 512, true, 768},                                      // ran a buffer ahead of the reader
        {false, 256, 256, 512, false, 0},
    };
    for (const row& r : rows) {
        if (r.playback) {
            EXPECT_EQ(loopdev_playback_xrun(r.position, r.appl), r.xrun) << r.position << " " << r.appl;
            EXPECT_EQ(loopdev_playback_avail(r.position, r.appl, r.buffer), r.avail) << r.position << " " << r.appl;
        } else {
            EXPECT_EQ(loopdev_capture_xrun(r.position, r.appl, r.buffer), r.xrun) << r.position << " " << r.appl;
            EXPECT_EQ(loopdev_capture_avail(r.position, r.appl), r.avail) << r.position << " " << r.appl;
        }
    }
}

TEST(LoopdevClock, StreamsStartedApartAreOffsetByTheTimeBetweenInFrames)
{
    constexpr int64_t ms = 1'000'000;
    const int64_t linked = 5 * ms;  // a period of 256 at 48 kHz, about
    struct row {
        int64_t capture_start, playback_start, rate, offset;
    };
    const row rows[] = {
        {0, 0, 48000, 0},
        {3, 0, 48000, 0},                             // back to back: started together
        {0, 4 * ms, 48000, 0},                        // within the window, either way
        {1000 * ms, 0, 48000, 48000},                 // capture a second later: its index is 48000 behind in time
        {0, 1000 * ms, 48000, -48000},                // playback a second later
        {10 * ms + 10'417, 0, 48000, 481},            // 480.50016 frames: to the nearest
        {10 * ms + 10'416, 0, 48000, 480},            // 480.49968
        {0, 10 * ms + 10'417, 48000, -481},           // the same the other way: symmetric
        {3600'000 * ms, 0, 192000, 3600LL * 192000},  // an hour apart: no overflow
    };
    for (const row& r : rows)
        EXPECT_EQ(loopdev_stream_offset(r.capture_start, r.playback_start, r.rate, linked), r.offset)
            << r.capture_start << " " << r.playback_start;
}
