// Stall detection: the frame count that the audio thread bumps, looked at by
// the key loop, and the line it shows.
#include <gtest/gtest.h>

#include "frame/stall.hpp"

namespace {

// Windows of at least 1.5 s, each judged on its own rate: below 24000 frames
// a second (none, or a trickle) is a stall; the verdict holds until the next
// window is judged.
TEST(StallCheck, AWindowWithLessThanHalfTheFramesIsAStall)
{
    struct look {
        int64_t frames, now_ms;
        bool stalled;
    };
    const look looks[] = {
        {0, 10000, false},       // the first look opens a window
        {0, 11000, false},       // not yet judged
        {0, 11500, true},        // 1.5 s without a frame
        {0, 15000, true},        // a longer window, still nothing
        {96, 15200, true},       // a window still open keeps the verdict
        {320, 16500, true},      // a trickle: 320 frames in 1.5 s
        {72320, 18000, false},   // 48000 a second again
        {108320, 19500, false},  // exactly 24000 a second: not below the floor
        {138320, 21000, true},   // 20000 a second
    };
    stall_watch watch;
    for (const look& l : looks)
        EXPECT_EQ(stall_check(watch, l.frames, l.now_ms), l.stalled) << l.frames << " at " << l.now_ms;
}

TEST(StallMessage, JackIsToldToRestartOtherHostApisGetTheProgramsAdvice)
{
    EXPECT_EQ(stall_message(true, "ignored"),
              "!!! no audio frames: JACK server stopped? restart it, then this program");
    EXPECT_EQ(stall_message(false, "try a larger -b"), "!!! no audio frames: try a larger -b");
}

}  // namespace
