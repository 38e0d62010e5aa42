// The stall line drawn by the key loop while another thread plays the audio
// thread's part (run under ThreadSanitizer too).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "display/display.hpp"
#include "display/hooks.hpp"
#include "frame/handshake.hpp"
#include "frame/stall.hpp"
#include "frame/stream.hpp"

namespace {

// Waits up to six seconds for frame_stalled() to become wanted; a copy of the window then.
std::vector<uint8_t> window_when_stalled(bool wanted)
{
    for (int i = 0; i < 600 && frame_stalled() != wanted; i++)
        sleep_ms(10);
    EXPECT_EQ(frame_stalled(), wanted);
    return gfx_pixels();
}

// The key loop with no stream behind it: the count stands still, so the line
// appears in the top row of cells, drawn as the failure messages are, on a
// black bar two rows deeper; once frames flow, a later pass blanks the bar.
TEST(StallLine, ShownWhileNoFramesArriveAndBlankedWhenTheyFlow)
{
    constexpr int64_t width = 80, height = 20;
    gfx_open_memory(width, height);
    snapshot_reset();
    gfx_fill_box(0, 0, width - 1, height - 1, 12);
    frame_watch_stalls("!!! x", 150);
    std::vector<uint8_t> stalled, flowing;
    std::thread user([&] {
        stalled = window_when_stalled(true);
        std::atomic<bool> stop{false};
        std::thread audio([&] {
            while (!stop.load()) {  // well above 48000 frames a second, late wake-ups and all
                stream_frames.fetch_add(1920);
                sleep_ms(10);
            }
        });
        flowing = window_when_stalled(false);
        stop.store(true);
        audio.join();
        key_push("\x1B");
    });
    frame_key_loop({.client_name = "test",
                    .callback = nullptr,
                    .suggested_latency = 0.001333,
                    .refresh = [] {},
                    .stall_advice = "",
                    .refresh_hold_ms = 20,
                    .pass_pause_ms = 10});
    user.join();
    frame_watch_stalls("");

    gfx_open_memory(width, height);
    con_print("!!! x");
    const std::vector<uint8_t> printed = gfx_pixels();
    gfx_close();
    ASSERT_EQ(stalled.size(), printed.size());
    for (int64_t y = 0; y < height; y++)
        for (int64_t x = 0; x < width; x++) {
            const size_t i = static_cast<size_t>(y * width + x);
            const bool bar = x < 40 && y < 10;
            EXPECT_EQ(stalled[i], bar ? printed[i] : 12) << x << "," << y;
            EXPECT_EQ(flowing[i], bar ? 0 : 12) << x << "," << y;
        }
}

}  // namespace
