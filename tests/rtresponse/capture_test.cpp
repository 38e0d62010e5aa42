// The analyser's stream callback: clearing call, sweep playback, the capture
// ring in step with it, and the software loopback. (Publication and buffers,
// the same for every callback: tests/callbacks/frame_loop_test.cpp.)
#include <cmath>
#include <cstring>
#include <deque>
#include <vector>

#include "analyser_fixture.hpp"

namespace {

using CaptureTest = AnalyserTest;

TEST_F(CaptureTest, FirstCallOnlyClearsTheRingAndPlaysSilence)
{
    build_tables();
    for (int64_t p = 0; p < 2048; p++)
        rtresponse::capture_ring[p] = 5.0f;
    const std::vector<float> out = call(0.5f);
    EXPECT_EQ(out, (std::vector<float>{0.0f, 0.0f}));
    EXPECT_EQ(rtresponse::sweep_pos, 0);
    EXPECT_EQ(rtresponse::reset_pending, 0);
    for (int64_t p = 0; p < 2048; p++)
        ASSERT_EQ(rtresponse::capture_ring[p], 0.0f) << "slot " << p;
    EXPECT_EQ(rtresponse::capture_ring[2048], 0.0f);  // the spare slot is never touched
}

TEST_F(CaptureTest, PlaysTheSweepFromPositionOneWithChannelTwoSilent)
{
    build_tables();
    call(0.0f);
    for (int64_t i = 1; i <= 3 * 2048 + 5; i++) {
        const std::vector<float> out = call(0.1f);
        const int64_t p = i % 2048;
        ASSERT_EQ(rtresponse::sweep_pos, p);
        ASSERT_EQ(out[0], rtresponse::sweep_table[p]) << "call " << i;
        ASSERT_EQ(out[1], 0.0f);
        ASSERT_FALSE(std::signbit(out[1]));
    }
}

// Slot p is written in the call that plays sweep_table[p], with 0.3 x input 1
// formed in double; input 2 is ignored. After one period the ring holds exactly
// the last 2048 inputs.
TEST_F(CaptureTest, RingHoldsTheLastPeriodInStepWithTheSweep)
{
    build_tables();
    call(0.0f);
    auto input_of_call = [](int64_t i) { return static_cast<float>(std::sin(0.001 * static_cast<double>(i * i))); };
    const int64_t calls = 2048 + 700;
    for (int64_t i = 1; i <= calls; i++) {
        call(input_of_call(i), static_cast<float>(i));
        ASSERT_EQ(rtresponse::capture_ring[rtresponse::sweep_pos],
                  static_cast<float>(static_cast<double>(input_of_call(i)) * 0.3));
    }
    for (int64_t i = calls - 2047; i <= calls; i++)
        ASSERT_EQ(rtresponse::capture_ring[i % 2048], static_cast<float>(static_cast<double>(input_of_call(i)) * 0.3))
            << "call " << i;
}

// Runs the callback with input 1 fed from the output played `latency` calls
// earlier (latency >= 1: a call cannot hear its own output), for `periods` whole
// periods after the clearing call, publishing all along.
void run_delayed_loop(int64_t latency, int64_t periods)
{
    std::deque<float> line(static_cast<size_t>(latency - 1), 0.0f);
    float in[2] = {0.0f, 0.0f}, out[2] = {0.0f, 0.0f};
    analyser_callback(in, out, 1, nullptr, 0, nullptr);
    snapshot_release();
    for (int64_t i = 0; i < periods * 2048; i++) {
        line.push_back(out[0]);
        in[0] = line.front();
        line.pop_front();
        analyser_callback(in, out, 1, nullptr, 0, nullptr);
    }
}

// A loop of L frames leaves 0.3 x the sweep shifted circularly by L in the ring,
// and every level where it was: the magnitude 0.3 x 30.4 in each bin, 19.20 dB.
TEST_F(CaptureTest, LoopDelayOnlyShiftsThePeriodAndKeepsTheLevels)
{
    std::vector<float> levels_first;
    for (int64_t latency : {1, 2, 37, 1000, 2047, 2048, 2048 + 5}) {
        SetUp();
        build_tables();
        run_delayed_loop(latency, 3);
        for (int64_t p = 0; p < 2048; p++) {
            const float played = rtresponse::sweep_table[(p - latency % 2048 + 2048) % 2048];
            ASSERT_EQ(rtresponse::capture_ring[p], static_cast<float>(static_cast<double>(played) * 0.3))
                << "latency " << latency << " slot " << p;
        }
        ASSERT_EQ(std::memcmp(display_snapshot, rtresponse::capture_ring, 2048 * sizeof(float)), 0);
        response_analysis();
        if (levels_first.empty())
            levels_first.assign(spectrum_re, spectrum_re + 1024);
        for (int64_t k = 0; k < 1024; k++) {
            ASSERT_NEAR(spectrum_re[k], 20.0 * std::log10(0.3 * 30.4), 1e-4) << "latency " << latency << " bin " << k;
            ASSERT_NEAR(spectrum_re[k], levels_first[k], 2e-5) << "latency " << latency << " bin " << k;
        }
    }
}

// With loopback_mode 0 the input is ignored and the slot gets the sweep through
// delay2 and highpass_biquad, without the factor 0.3: 0, 0, then k1 x sweep[1].
TEST_F(CaptureTest, LoopbackReplacesTheInputByTheFilteredSweep)
{
    build_tables();
    loopback_mode = 0;
    call(0.9f);
    call(0.9f);
    EXPECT_EQ(rtresponse::capture_ring[1], 0.0f);
    call(0.9f);
    EXPECT_EQ(rtresponse::capture_ring[2], 0.0f);
    const std::vector<float> out = call(0.9f);
    EXPECT_EQ(out[0], rtresponse::sweep_table[3]);
    EXPECT_EQ(out[1], 0.0f);
    EXPECT_EQ(rtresponse::capture_ring[3],
              static_cast<float>(static_cast<double>(rtresponse::sweep_table[1]) * 0.9963044429897594));
}

// Any loopback_mode other than 0 keeps the filters idle: afterwards delay2 still
// returns the zeros of its initial state and highpass_biquad answers an impulse
// with k1 exactly, as from rest.
TEST_F(CaptureTest, FiltersNeverRunWhileLoopbackIsOff)
{
    for (int64_t mode : {-1, 1, 5}) {
        SetUp();
        build_tables();
        loopback_mode = mode;
        for (int64_t i = 0; i < 5000; i++)
            call(0.25f);
        EXPECT_EQ(rtresponse::capture_ring[rtresponse::sweep_pos], static_cast<float>(0.25 * 0.3)) << mode;
        EXPECT_EQ(delay2(1.0f), 0.0f) << mode;
        EXPECT_EQ(delay2(2.0f), 0.0f) << mode;
        EXPECT_EQ(highpass_biquad(1.0f), static_cast<float>(0.9963044429897594)) << mode;
        EXPECT_EQ(highpass_biquad(0.0f), 0.0f) << mode;
    }
}

}  // namespace
