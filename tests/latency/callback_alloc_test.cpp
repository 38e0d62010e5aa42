// The callback allocates nothing: every allocation path of this test program
// (global operator new and delete, and the C allocator when no sanitizer owns
// it) is counted while the callback runs.
#include <gtest/gtest.h>

#include "common/allocation_counter.hpp"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>

#include "simulated_loop.hpp"

namespace {

class LatencyCallbackAllocation : public ::testing::Test {
protected:
    void SetUp() override { fresh_run(); }
    void TearDown() override
    {
        counting = false;
        fresh_run();
    }
};

// From the clearing first call on, with the snapshot published, then frozen,
// then published again.
TEST_F(LatencyCallbackAllocation, CallbackAllocatesNothing)
{
    float in[2 * 64] = {};
    float out[2 * 64] = {};
    float echo[2048] = {};  // the loop: input = output 300 frames ago
    int64_t t = 0;
    allocations = 0;
    counting = true;
    snapshot_release();
    for (int64_t call = 0; call < 60000; call++) {
        if (call == 20000)
            snapshot_freeze();
        if (call == 40000)
            snapshot_release();
        in[0] = echo[(t - 300) & 2047];
        latency_callback(in, out, 1, nullptr, 0, nullptr);
        echo[t & 2047] = out[0];
        t++;
    }
    for (int64_t call = 0; call < 100; call++)  // buffers of 64 frames
        latency_callback(in, out, 64, nullptr, 0, nullptr);
    counting = false;
    EXPECT_EQ(allocations.load(), 0);
}

}  // namespace
