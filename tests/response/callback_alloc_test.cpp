// Morvane's callback allocates nothing: every allocation path of this test
// program (global operator new and delete, and the C allocator when no
// sanitizer owns it) is counted while the callback runs.
#include <gtest/gtest.h>

#include "common/allocation_counter.hpp"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>

#include "morvane_fixture.hpp"

namespace {

class MorvaneCallbackAllocation : public MorvaneTest {
protected:
    void TearDown() override
    {
        counting = false;
        MorvaneTest::TearDown();
    }
};

// From the clearing first call on, through a loop and the software loopback,
// with the snapshot published, then frozen, then published again, in buffers
// of one frame and of 64.
TEST_F(MorvaneCallbackAllocation, CallbackAllocatesNothing)
{
    float in[2 * 64] = {};
    float out[2 * 64] = {};
    float echo[4096] = {};  // the loop: input = output 300 frames ago
    int64_t t = 0;
    allocations = 0;
    counting = true;
    snapshot_release();
    for (int64_t call = 0; call < 90000; call++) {
        if (call == 30000)
            snapshot_freeze();
        if (call == 45000)
            snapshot_release();
        if (call == 60000)
            loopback_mode = 0;
        in[0] = echo[(t - 300) & 4095];
        in[1] = 0.5f;
        response_callback(in, out, 1, nullptr, 0, nullptr);
        echo[t & 4095] = out[0];
        t++;
    }
    for (int64_t call = 0; call < 100; call++)
        response_callback(in, out, 64, nullptr, 0, nullptr);
    response_callback(nullptr, nullptr, 1, nullptr, 0, nullptr);
    counting = false;
    EXPECT_EQ(allocations.load(), 0);
    EXPECT_NE(response::tap_weights[300], 0.0f);  // the callback did run its model
}

}  // namespace
