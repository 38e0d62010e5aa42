// Each callback computes exactly the floats it always has: the fingerprint of
// 300000 frames over a loop and over the software loopback (every output
// sample, then its taps or ring, snapshot and power), in buffers of one frame
// and of 256. In buffers of 256 the loop's 37 frames reach back into the same
// buffer, whose output is not played yet: another loop, another fingerprint.
#include <gtest/gtest.h>

#include <cstring>

#include "callbacks/fingerprint.hpp"
#include "callbacks/programs.hpp"

namespace {

TEST(CallbackFingerprint, SameBitsAsEverInAnyBufferLength)
{
    if (!blas_kernel_pinned())
        GTEST_SKIP() << "OpenBLAS's kernel is not pinned: its sums differ from one processor to another";
    struct run {
        const char* program;
        int64_t loopback, buffer;
        uint64_t expected;
    };
    const run runs[] = {
        {"karvel", -1, 1, 0x23358f7b577567b4ull},     {"karvel", -1, 256, 0x984b4f23f25f4ed0ull},
        {"morvane", -1, 1, 0x9e6d900620bae1f5ull},    {"morvane", -1, 256, 0x967ad532f2c13a3dull},
        {"morvane", 0, 1, 0xf716e5a3845834edull},     {"analyser", -1, 1, 0xd5f2462b3104d914ull},
        {"analyser", -1, 256, 0xc4069942d200b254ull}, {"analyser", 0, 1, 0x3159b511434ae018ull},
    };
    for (const run& r : runs)
        for (const callback_program& p : callback_programs()) {
            if (std::strcmp(p.name, r.program) != 0)
                continue;
            p.fresh_run();
            rtresponse::loopback_mode = r.loopback;
            snapshot_release();
            fingerprint print;
            loop_fingerprint(p.callback, 300032, r.buffer, 37, 0.5f, print);
            for (size_t i = 0; i < p.state.size(); i++)
                print.add(p.state[i], p.state_counts[i]);
            EXPECT_EQ(print.hash, r.expected)
                << p.name << ", loopback " << r.loopback << ", buffer " << r.buffer << ": " << std::hex << print.hash;
            p.fresh_run();
        }
}

}  // namespace
