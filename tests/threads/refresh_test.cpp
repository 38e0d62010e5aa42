// A drawing thread slower than its refresh's hold, while another thread plays
// the callback publishing at full speed: the snapshot it reads stays whole and
// unchanged until it ends, and no second drawing thread starts beside it (run
// under ThreadSanitizer too).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "display/display.hpp"
#include "display/hooks.hpp"
#include "frame/handshake.hpp"
#include "frame/stream.hpp"

namespace {

constexpr size_t count = 512;
float source[count];
float snapshot[count];

std::atomic<int> drawing{0};       // drawing threads running now
std::atomic<int> most_drawing{0};  // the most that ever ran at once
std::atomic<int> drawings{0};      // drawing threads that ended
std::atomic<int> torn{0};          // reads that found the snapshot mixed or changed
std::atomic<int> refreshes_while_drawing{0};
float first_values[8];  // what each of the first drawings found

// The drawing: reads the snapshot over and over for 150 ms, five times the hold.
void slow_drawing()
{
    const int running = drawing.fetch_add(1) + 1;
    int most = most_drawing.load();
    while (running > most && !most_drawing.compare_exchange_weak(most, running)) {
    }
    const float first = snapshot[0];
    for (int pass = 0; pass < 30; pass++) {
        if (std::any_of(snapshot, snapshot + count, [first](float v) { return v != first; }))
            torn.fetch_add(1);
        sleep_ms(5);
    }
    const int done = drawings.load();
    if (done < 8)
        first_values[done] = first;
    drawing.fetch_sub(1);
    drawings.fetch_add(1);
}

void slow_refresh()
{
    if (drawing.load() > 0)
        refreshes_while_drawing.fetch_add(1);
    thread_start(slow_drawing);
}

TEST(RefreshLifetime, ALateDrawingKeepsItsSnapshotAndHasNoSecond)
{
    gfx_open_memory(40, 20);
    snapshot_reset();
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        // Every publication writes one value everywhere: a mix is a torn copy.
        for (float k = 1; !stop.load(); k++) {
            std::fill(source, source + count, k);
            snapshot_publish(source, snapshot, count);
            std::this_thread::yield();
        }
    });
    std::thread user([] {
        for (int i = 0; i < 500 && drawings.load() < 4; i++)  // at most 10 s
            sleep_ms(20);
        key_push("\x1B");
    });
    frame_key_loop({.client_name = "test",
                    .callback = nullptr,
                    .suggested_latency = 0.001333,
                    .refresh = slow_refresh,
                    .stall_advice = "",
                    .refresh_hold_ms = 30,
                    .pass_pause_ms = 10});
    user.join();
    EXPECT_TRUE(thread_wait_all(5000));
    stop.store(true);
    audio.join();
    gfx_close();

    ASSERT_GE(drawings.load(), 4);
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(most_drawing.load(), 1);
    EXPECT_EQ(refreshes_while_drawing.load(), 0);
    // Published again between drawings: never an older snapshot, and a newer
    // one over the four. (Between two drawings the publisher has only the
    // 40 ms of hold and pause to run in, which a busy machine may not give it.)
    for (int i = 1; i < 4; i++)
        EXPECT_GE(first_values[i], first_values[i - 1]) << i;
    EXPECT_GT(first_values[3], first_values[0]);
    snapshot_reset();
}

}  // namespace
