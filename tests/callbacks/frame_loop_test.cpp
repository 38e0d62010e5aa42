// What every stream callback does with its buffers and its snapshot, as one
// grid over Karvel's, Morvane's and the analyser's: publication under the
// handshake, buffers of several frames, missing buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "callbacks/programs.hpp"
#include "common/callback_driver.hpp"

namespace {

// Everything a run leaves behind: the state arrays and the positions.
std::vector<double> state_of(const callback_program& p)
{
    std::vector<double> all;
    for (size_t i = 0; i < p.state.size(); i++)
        all.insert(all.end(), p.state[i], p.state[i] + p.state_counts[i]);
    for (const int64_t* position : p.positions)
        all.push_back(static_cast<double>(*position));
    return all;
}

// frames one-frame calls with noise on input 1 and 0.75 on input 2.
void run_noise(const callback_program& p, reference_noise& noise, int64_t frames)
{
    for (int64_t f = 0; f < frames; f++)
        call_frame(p.callback, noise.next(), 0.75f);
}

class CallbackFrames : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (const callback_program& p : callback_programs())
            p.fresh_run();
    }
};

// The taps or the ring reach the snapshot on every call while it is not
// frozen, never while it is (from program load on), and snapshot_copying is
// down after every call; the snapshot's spare element is never written.
TEST_F(CallbackFrames, PublishOnlyWhileTheSnapshotIsNotFrozen)
{
    for (const callback_program& p : callback_programs()) {
        SCOPED_TRACE(p.name);
        p.fresh_run();
        const float* source = p.state[0];
        const float* snapshot = p.state[1];
        const size_t bytes = static_cast<size_t>(p.state_counts[0]) * sizeof(float);
        reference_noise noise;
        run_noise(p, noise, 5000);
        EXPECT_TRUE(std::all_of(snapshot, snapshot + p.state_counts[0] + 1, [](float v) { return v == 0.0f; }));
        EXPECT_FALSE(std::all_of(source, source + p.state_counts[0], [](float v) { return v == 0.0f; }));

        snapshot_release();
        for (int call = 0; call < 50; call++) {
            run_noise(p, noise, 1);
            ASSERT_EQ(std::memcmp(snapshot, source, bytes), 0);
            ASSERT_EQ(snapshot_copying.load(), 0);
        }
        ASSERT_TRUE(snapshot_freeze());
        const std::vector<float> frozen(snapshot, snapshot + p.state_counts[0]);
        run_noise(p, noise, 500);
        EXPECT_TRUE(std::equal(frozen.begin(), frozen.end(), snapshot));
        EXPECT_NE(std::memcmp(snapshot, source, bytes), 0);
        EXPECT_EQ(snapshot[p.state_counts[0]], 0.0f);
        EXPECT_EQ(snapshot_copying.load(), 0);
    }
}

// A buffer of several frames gives what the same frames give one per call,
// the clearing frame first and silent; a missing input buffer counts as
// silence, and a missing output buffer changes nothing but what is heard.
TEST_F(CallbackFrames, LongerBuffersAndMissingBuffers)
{
    constexpr int64_t frames = 64;
    for (const callback_program& p : callback_programs()) {
        SCOPED_TRACE(p.name);
        std::vector<float> in(2 * frames), out(2 * frames), single_out(2 * frames);
        reference_noise pattern{0x2468ACEu, 0x13579BDu};
        for (float& v : in)
            v = pattern.next();

        p.fresh_run();
        snapshot_release();
        EXPECT_EQ(p.callback(in.data(), out.data(), frames, nullptr, 0, nullptr), paContinue);
        EXPECT_EQ(out[0], 0.0f);
        for (int round = 0; round < 20; round++)
            p.callback(in.data(), out.data(), frames, nullptr, 0, nullptr);
        const std::vector<double> buffered = state_of(p);

        p.fresh_run();
        snapshot_release();
        for (int round = 0; round < 21; round++)
            for (int64_t f = 0; f < frames; f++) {
                const frame_out o = call_frame(p.callback, in[2 * f], in[2 * f + 1]);
                single_out[2 * f] = o.left;
                single_out[2 * f + 1] = o.right;
            }
        EXPECT_EQ(state_of(p), buffered);
        EXPECT_EQ(out, single_out);

        // 1001 calls with silence in, then without an input buffer, then with neither buffer.
        std::vector<frame_out> heard_silent, heard_missing;
        p.fresh_run();
        for (int call = 0; call <= 1000; call++)
            heard_silent.push_back(call_frame(p.callback, 0.0f, 0.0f));
        const std::vector<double> silent = state_of(p);
        p.fresh_run();
        for (int call = 0; call <= 1000; call++) {
            float o[2] = {-7.0f, -7.0f};
            EXPECT_EQ(p.callback(nullptr, o, 1, nullptr, 0, nullptr), paContinue);
            heard_missing.push_back({o[0], o[1]});
        }
        EXPECT_EQ(state_of(p), silent);
        EXPECT_TRUE(std::equal(heard_silent.begin(), heard_silent.end(), heard_missing.begin(),
                               [](frame_out a, frame_out b) { return a.left == b.left && a.right == b.right; }));
        p.fresh_run();
        for (int call = 0; call <= 1000; call++)
            EXPECT_EQ(p.callback(nullptr, nullptr, 1, nullptr, 0, nullptr), paContinue);
        EXPECT_EQ(state_of(p), silent);
    }
}

}  // namespace
