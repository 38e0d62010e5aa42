// The refresh handshake under load: a producer publishing at full speed never
// leaves the key loop a torn snapshot (run under ThreadSanitizer too).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "frame/handshake.hpp"

namespace {

TEST(Handshake, FrozenSnapshotsAreNeverTorn)
{
    snapshot_reset();
    snapshot_release();
    constexpr size_t count = 2048;
    std::vector<float> source(count), snapshot(count);
    std::atomic<bool> stop{false};
    std::thread producer([&] {
        // Every copy writes one value everywhere; a mix of two values is a torn copy.
        for (float k = 1; !stop.load(); k++) {
            std::fill(source.begin(), source.end(), k);
            snapshot_publish(source.data(), snapshot.data(), count);
        }
    });
    int checked = 0;
    // Bounded: a freeze fails while a copy is under way, which at full speed
    // is often; the key loop would simply try again on its next pass.
    for (int round = 0; round < 3000000 && checked < 300; round++) {
        if (!snapshot_freeze()) {
            std::this_thread::yield();
            continue;
        }
        // A refresh reads for a while: the snapshot must be whole and stay put.
        const float first = snapshot[0];
        for (int pass = 0; pass < 20; pass++)
            for (size_t i = 0; i < count; i++)
                ASSERT_EQ(snapshot[i], first) << "round " << round << " pass " << pass << " index " << i;
        snapshot_release();
        checked++;
        std::this_thread::yield();
    }
    stop.store(true);
    producer.join();
    EXPECT_GE(checked, 100);
    snapshot_reset();
}

TEST(Handshake, NothingIsPublishedBeforeTheFirstRelease)
{
    snapshot_reset();
    float source[4] = {1, 2, 3, 4}, snapshot[4] = {};
    snapshot_publish(source, snapshot, 4);
    EXPECT_EQ(snapshot[0], 0.0f);
    snapshot_release();
    snapshot_publish(source, snapshot, 4);
    EXPECT_EQ(snapshot[3], 4.0f);
    EXPECT_EQ(snapshot_copying.load(), 0);
    snapshot_reset();
}

}  // namespace
