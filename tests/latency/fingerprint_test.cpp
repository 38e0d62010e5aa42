// Karvel's callback computes exactly the floats it always has: the fingerprint
// of 300000 frames over a loop (every output sample, then taps, snapshot and
// power), in buffers of one frame and of 256.
#include <gtest/gtest.h>

#include <iterator>

#include "common/fingerprint.hpp"
#include "simulated_loop.hpp"

namespace {

TEST(LatencyFingerprint, SameBitsAsEverInAnyBufferLength)
{
    if (!blas_kernel_pinned())
        GTEST_SKIP() << "OpenBLAS's kernel is not pinned: its sums differ from one processor to another";
    struct run {
        int64_t buffer;
        uint64_t expected;
    };
    // In buffers of 256 the loop's 37 frames reach back into the same buffer,
    // whose output is not played yet: another loop, another fingerprint.
    for (const run& r : {run{1, 0x23358f7b577567b4ull}, run{256, 0x984b4f23f25f4ed0ull}}) {
        const int64_t buffer = r.buffer;
        fresh_run();
        snapshot_release();
        fingerprint print;
        loop_fingerprint(latency_callback, 300032, buffer, 37, 0.5f, print);
        print.add(latency::tap_weights, latency::tap_count);
        print.add(latency::display_snapshot, latency::tap_count);
        print.add(&latency::stimulus_power, 1);
        EXPECT_EQ(print.hash, r.expected) << "buffer " << buffer << ": " << std::hex << print.hash;
    }
    fresh_run();
}

}  // namespace
