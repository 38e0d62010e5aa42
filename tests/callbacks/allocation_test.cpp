// No callback allocates: every allocation path of this test program (global
// operator new and delete, and the C allocator when no sanitizer owns it) is
// counted while each callback runs from its clearing first call on, over a
// loop and then the software loopback, with the snapshot published, frozen and
// published again, in buffers of one frame and of 64, and with no buffers.
#include <gtest/gtest.h>

#include "callbacks/allocation_counter.hpp"
#include "callbacks/programs.hpp"

namespace {

TEST(CallbackAllocation, NoCallbackAllocates)
{
    for (const callback_program& p : callback_programs()) {
        p.fresh_run();
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
                rtresponse::loopback_mode = 0;
            in[0] = echo[(t - 300) & 4095];
            in[1] = 0.5f;
            p.callback(in, out, 1, nullptr, 0, nullptr);
            echo[t & 4095] = out[0];
            t++;
        }
        for (int64_t call = 0; call < 100; call++)
            p.callback(in, out, 64, nullptr, 0, nullptr);
        p.callback(nullptr, nullptr, 1, nullptr, 0, nullptr);
        counting = false;
        EXPECT_EQ(allocations.load(), 0) << p.name;
        EXPECT_NE(p.state[0][300], 0.0f) << p.name << ": the callback did not run";
        p.fresh_run();
    }
}

}  // namespace
