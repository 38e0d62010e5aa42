// Stall detection: the frame count that the audio thread bumps, looked at by
// the key loop, and the line it shows.
#include <gtest/gtest.h>

#include "frame/stall.hpp"

namespace {

TEST(StallCheck, AStallIsACountThatStandsStillForOneAndAHalfSeconds)
{
    struct look {
        int64_t frames, now_ms;
        bool stalled;
    };
    // From the first look on: frames at 0 never move; then they move; then stop again.
    const look looks[] = {
        {0, 10000, false},  {0, 11000, false},  {0, 11499, false}, {0, 11500, true},  {0, 15000, true},
        {256, 15200, false}, {512, 16000, false}, {512, 17499, false}, {512, 17500, true}, {768, 17600, false},
    };
    stall_watch watch;
    for (const look& l : looks)
        EXPECT_EQ(stall_check(watch, l.frames, l.now_ms), l.stalled) << l.frames << " at " << l.now_ms;
}

TEST(StallMessage, JackIsToldToRestartOtherHostApisGetTheProgramsAdvice)
{
    EXPECT_EQ(stall_message(true, "ignored"), "!!! no audio frames: JACK server stopped? restart it, then this program");
    EXPECT_EQ(stall_message(false, "try a larger -b"), "!!! no audio frames: try a larger -b");
}

}  // namespace
