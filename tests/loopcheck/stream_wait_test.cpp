// The seam's rules, on a clock and a stream that the test moves by hand:
// the stall rule, the retry policy, the wait and the safe start.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "loopcheck/io/stream_state.hpp"
#include "loopcheck/io/stream_wait.hpp"

namespace {

constexpr double wait_rate = 48000.0;

// A stream no callback drives: the test moves its count of frames itself.
std::unique_ptr<stream> made()
{
    auto s = std::make_unique<stream>();
    s->facts.rate = wait_rate;
    return s;
}

// A stream whose callback handles per_ms frames each millisecond of the
// script's clock, until the clock reaches stop_ms; interrupt_ms sets the flag.
struct paced {
    std::unique_ptr<stream> s = made();
    std::atomic<bool> interrupted{false};
    int64_t now = 0, per_ms = 48, stop_ms = -1, interrupt_ms = -1;
    stream_pace pace()
    {
        return {[this] { return now; },
                [this](int64_t ms) {
                    for (int64_t i = 0; i < ms; i++) {
                        now++;
                        if (stop_ms < 0 || now <= stop_ms)
                            s->state.frames_done.fetch_add(per_ms);
                        if (now == interrupt_ms)
                            interrupted.store(true);
                    }
                }};
    }
};

}  // namespace

TEST(LoopcheckStreamWait, TheStallRuleCountsFromTheLastMove)
{
    struct look {
        int64_t frames, now_ms;
        bool stalled;
    };
    const look looks[] = {
        {0, 0, false},                                           // the first look only starts the watch
        {0, 1000, false},                                        // a second of stillness is not yet a stall
        {0, 1001, true},                                         // more than a second is
        {10, 1002, false},                                       // frames again: the watch starts over
        {10, 2002, false}, {10, 2003, true}, {11, 5000, false},  // one frame is a move, however late
    };
    stream_stall_watch w;
    for (const look& l : looks)
        EXPECT_EQ(stream_stall_look(w, l.frames, l.now_ms), l.stalled) << l.frames << " at " << l.now_ms;
}

TEST(LoopcheckStreamWait, ASpoiledAttemptIsMadeAgainThreeTimesInAll)
{
    struct row {
        int attempt;
        const char* spoiled;
        stream_retry next;
    };
    const row rows[] = {
        {1, "", stream_retry::keep},
        {1, "an input overflow", stream_retry::again},
        {2, "a missed cycle", stream_retry::again},
        {3, "a stall", stream_retry::give_up},
        {3, "", stream_retry::keep},  // a clean last attempt is kept
    };
    for (const row& r : rows)
        EXPECT_EQ(stream_retry_after(r.attempt, r.spoiled), r.next) << r.attempt << " " << r.spoiled;
    EXPECT_EQ(stream_retry_given_up("run 2", "a stall"), "unstable: run 2 was spoiled 3 times: a stall");
}

TEST(LoopcheckStreamWait, AWaitEndsOnItsFrameAStallATrickleOrAnInterrupt)
{
    struct row {
        const char* what;
        int64_t per_ms, stop_ms, interrupt_ms, until;
        bool arrives;
        int64_t most_ms;  // the script's clock when the wait ended, at most
    };
    const row rows[] = {
        {"in time", 48, -1, -1, 4800, true, 100},
        {"stalled", 48, 50, -1, 4800, false, 50 + stream_stall_ms + 1},
        {"a trickle", 1, -1, -1, 48000, false, stream_stall_ms + 2000 + 1},
        {"interrupted", 48, -1, 30, 48000, false, 30},
    };
    for (const row& r : rows) {
        paced p;
        p.per_ms = r.per_ms, p.stop_ms = r.stop_ms, p.interrupt_ms = r.interrupt_ms;
        EXPECT_EQ(stream_wait_frames(*p.s, r.until, p.interrupted, p.pace()), r.arrives) << r.what;
        EXPECT_LE(p.now, r.most_ms) << r.what;
        if (r.arrives) {
            EXPECT_GE(stream_frames_done(*p.s), r.until) << r.what;
        }
    }
}

TEST(LoopcheckStreamWait, TheSafeStartIsTwoBuffersAndTenMillisecondsAhead)
{
    const std::unique_ptr<stream> s = made();
    s->state.frames_done.store(1000);
    s->state.largest_buffer.store(256);
    EXPECT_EQ(stream_ahead_of_callback(*s), 1000 + 512 + 480);
}
