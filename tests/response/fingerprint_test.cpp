// Morvane's callback computes exactly the floats it always has: the fingerprint
// of 300000 frames over a loop and over the software loopback (every output
// sample, then taps, snapshot and power), in buffers of one frame and of 256.
#include "common/fingerprint.hpp"
#include "morvane_fixture.hpp"

namespace {

TEST(MorvaneFingerprint, SameBitsAsEverInAnyBufferLength)
{
    if (!blas_kernel_pinned())
        GTEST_SKIP() << "OpenBLAS's kernel is not pinned: its sums differ from one processor to another";
    struct run {
        int64_t loopback, buffer;
        uint64_t expected;
    };
    for (const run& r : {run{-1, 1, 0x9e6d900620bae1f5ull}, run{-1, 256, 0x967ad532f2c13a3dull},
                          run{0, 1, 0xf716e5a3845834edull}}) {
        fresh_run();
        loopback_mode = r.loopback;
        snapshot_release();
        fingerprint print;
        loop_fingerprint(response_callback, 300032, r.buffer, 37, 0.5f, print);
        print.add(response::tap_weights, response::tap_count);
        print.add(display_snapshot, response::tap_count);
        print.add(&response::stimulus_power, 1);
        EXPECT_EQ(print.hash, r.expected) << "loopback " << r.loopback << ", buffer " << r.buffer << ": " << std::hex
                                          << print.hash;
    }
    fresh_run();
}

}  // namespace
