// The analyser's callback computes exactly the floats it always has: the
// fingerprint of 300000 frames over a loop and over the software loopback
// (every output sample, then ring and snapshot), in buffers of 1 and 256 frames.
#include "analyser_fixture.hpp"
#include "common/fingerprint.hpp"

namespace {

using AnalyserFingerprint = AnalyserTest;

TEST_F(AnalyserFingerprint, SameBitsAsEverInAnyBufferLength)
{
    struct run {
        int64_t loopback, buffer;
        uint64_t expected;
    };
    for (const run& r : {run{-1, 1, 0xd5f2462b3104d914ull}, run{-1, 256, 0xc4069942d200b254ull},
                          run{0, 1, 0x3159b511434ae018ull}}) {
        SetUp();
        build_tables();
        loopback_mode = r.loopback;
        snapshot_release();
        fingerprint print;
        loop_fingerprint(analyser_callback, 300032, r.buffer, 37, 0.5f, print);
        print.add(rtresponse::capture_ring, 2048);
        print.add(display_snapshot, 2048);
        EXPECT_EQ(print.hash, r.expected) << "loopback " << r.loopback << ", buffer " << r.buffer << ": " << std::hex
                                          << print.hash;
    }
}

}  // namespace
