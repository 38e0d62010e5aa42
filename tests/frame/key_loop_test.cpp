// The key loop run in-process against the memory framebuffer: which keys end
// it, which clear the window, and when a refresh starts.
#include <gtest/gtest.h>

#include <atomic>

#include "display/display.hpp"
#include "display/hooks.hpp"
#include "display/plot.hpp"
#include "frame/handshake.hpp"
#include "frame/stream.hpp"

namespace {

std::atomic<int> refreshes{0};

// Paints the whole window on its first call only, so that a later clear stays visible.
void paint_once()
{
    if (refreshes.fetch_add(1) == 0)
        plot_fill_box(0, 0, 40, 20, 12);
}

bool window_is(uint8_t colour)
{
    for (uint8_t p : gfx_pixels())
        if (p != colour)
            return false;
    return true;
}

class KeyLoop : public ::testing::Test {
protected:
    void SetUp() override
    {
        gfx_open_memory(40, 20);
        snapshot_reset();
        refreshes = 0;
    }
    void TearDown() override { gfx_close(); }
    static measurement_frame frame(bool erase)
    {
        return {.client_name = "test",
                .callback = nullptr,
                .suggested_latency = 0.001333,
                .refresh = paint_once,
                .stall_advice = "",
                .erase_keys = erase,
                .refresh_hold_ms = 8,
                .pass_pause_ms = 2};
    }
};

TEST_F(KeyLoop, EscapeEndsItAfterOneRefresh)
{
    key_push("\x1B");
    frame_key_loop(frame(true));
    EXPECT_EQ(refreshes.load(), 1);
    EXPECT_TRUE(window_is(12));
    EXPECT_EQ(snapshot_frozen.load(), 0);  // released after the refresh
}

TEST_F(KeyLoop, CtrlCEndsItLikeEscape)
{
    key_push("\x03");
    frame_key_loop(frame(false));
    EXPECT_EQ(refreshes.load(), 1);
}

TEST_F(KeyLoop, EachOfEeRrClearsTheWindow)
{
    for (const char* key : {"e", "E", "r", "R"}) {
        refreshes = 0;
        gfx_fill_box(0, 0, 39, 19, 5);
        key_push(key);
        key_push("\x1B");
        frame_key_loop(frame(true));
        EXPECT_TRUE(window_is(0)) << key;
        EXPECT_EQ(refreshes.load(), 2) << key;
    }
}

TEST_F(KeyLoop, OtherKeysAndTheCloseButtonChangeNothing)
{
    for (const char* key : {"x", "\xFF\x6B", "\xFF\x48", "q"})
        key_push(key);
    key_push("\x1B");
    frame_key_loop(frame(true));
    EXPECT_EQ(refreshes.load(), 5);  // one pass per key, each with a refresh
    EXPECT_TRUE(window_is(12));
}

TEST_F(KeyLoop, ProgramsWithoutEraseKeysIgnoreE)
{
    key_push("e");
    key_push("\x1B");
    frame_key_loop(frame(false));
    EXPECT_TRUE(window_is(12));
}

TEST_F(KeyLoop, NoRefreshStartsWhileACopyIsUnderWay)
{
    snapshot_copying.store(1);  // as if the callback were copying at every look
    key_push("x");
    key_push("\x1B");
    frame_key_loop(frame(true));
    EXPECT_EQ(refreshes.load(), 0);
    EXPECT_EQ(snapshot_frozen.load(), 1);  // never lowered: no refresh began
    snapshot_copying.store(0);
}

}  // namespace
