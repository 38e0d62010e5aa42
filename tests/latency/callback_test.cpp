// Karvel's stream callback on a simulated loop: the loop's delay, polarity
// and gain found in the taps, silence, and delays out of reach. (What both
// adaptive callbacks share is in tests/callbacks/adaptive_test.cpp.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <vector>

#include "simulated_loop.hpp"

namespace {

using namespace latency;

class LatencyCallback : public ::testing::Test {
protected:
    void SetUp() override { fresh_run(); }
    void TearDown() override { fresh_run(); }
};

// ---- identification of the loop ------------------------------------------------

// Locating the peak needs far fewer frames than converging on the gain: the
// tap at the delay grows by about 6e-6 * gain per frame (once the power
// average has settled near 0.0133 after some 10000 frames) while every other
// tap random-walks by about 6e-6 * gain * sqrt(frames). After 50000 frames the
// true tap is near 0.2 * gain and the others stay below 0.01.
constexpr int64_t locate_frames = 50000;

class LatencyCallbackDelay : public LatencyCallback, public ::testing::WithParamInterface<int64_t> {};

TEST_P(LatencyCallbackDelay, LargestTapLandsAtTheLoopDelay)
{
    const int64_t delay = GetParam();
    snapshot_release();
    simulated_loop loop(delay, 1.0f);
    loop.run(locate_frames);
    EXPECT_EQ(loop.stimulus_mismatches, 0);
    EXPECT_EQ(loop.right_not_silent, 0);

    const tap_peak peak = largest_tap(display_snapshot);
    EXPECT_EQ(peak.index, delay);
    EXPECT_GT(peak.value, 0.1f);
    float others = 0.0f;
    for (int64_t k = 0; k < tap_count; k++)
        if (k != delay)
            others = std::max(others, std::fabs(display_snapshot[k]));
    EXPECT_LT(others, 0.01f);
    EXPECT_EQ(std::memcmp(display_snapshot, tap_weights, tap_count * sizeof(float)), 0);
}

INSTANTIATE_TEST_SUITE_P(Delays, LatencyCallbackDelay, ::testing::Values(0, 1, 37, 1000, 1999));

TEST_F(LatencyCallback, InvertedLoopGivesANegativePeakAtTheDelay)
{
    snapshot_release();
    simulated_loop loop(131, -0.5f);
    loop.run(locate_frames);
    const tap_peak peak = largest_tap(display_snapshot);
    EXPECT_EQ(peak.index, 131);
    EXPECT_LT(peak.value, -0.05f);
}

// Convergence on the gain. In the mean every tap error shrinks by the factor
// 1 - 6e-6 * var / power per frame, var = 0.04 / 3 being the stimulus variance:
// a time constant of 166667 frames once the power average has settled. The
// power starts at 1.0 and falls to var with a 2000-frame time constant, which
// costs about 2000 * ln(1 / var), some 9000 frames. The loop is exactly a
// delayed, scaled stimulus, so the model can fit it without residual noise.
// After 10^6 frames the remaining error is about exp(-6e-6 * 991000) = 0.26 %
// of the gain (0.3 % is seen); 1 % leaves room for rounding and for the
// randomness of the stimulus around that mean.
constexpr int64_t converge_frames = 1000000;

struct gain_case {
    int64_t delay;
    float gain;
};
std::ostream& operator<<(std::ostream& os, const gain_case& c)
{
    return os << "delay " << c.delay << " gain " << c.gain;
}

class LatencyCallbackGain : public LatencyCallback, public ::testing::WithParamInterface<gain_case> {};

TEST_P(LatencyCallbackGain, PeakValueConvergesOnTheLoopGain)
{
    const gain_case c = GetParam();
    simulated_loop loop(c.delay, c.gain);
    loop.run(converge_frames - 1);  // frozen: taps adapt, nothing published
    EXPECT_TRUE(std::all_of(display_snapshot, display_snapshot + tap_count, [](float v) { return v == 0.0f; }));
    snapshot_release();
    loop.run(1);
    EXPECT_EQ(loop.stimulus_mismatches, 0);

    const tap_peak peak = largest_tap(display_snapshot);
    EXPECT_EQ(peak.index, c.delay);
    EXPECT_GT(peak.magnitude, 0.99f * std::fabs(c.gain));
    EXPECT_LE(peak.magnitude, 1.001f * std::fabs(c.gain));
    EXPECT_EQ(peak.value < 0, c.gain < 0);
}

INSTANTIATE_TEST_SUITE_P(Gains, LatencyCallbackGain, ::testing::Values(gain_case{48, 1.0f}, gain_case{250, -0.5f}));

TEST_F(LatencyCallback, ExactSilenceKeepsEveryTapExactlyZero)
{
    snapshot_release();
    simulated_loop loop(0, 1.0f);
    loop.silent = true;
    loop.run(30000);
    EXPECT_EQ(loop.stimulus_mismatches, 0);
    EXPECT_TRUE(std::all_of(tap_weights, tap_weights + tap_count, [](float v) { return v == 0.0f; }));
    EXPECT_TRUE(std::all_of(display_snapshot, display_snapshot + tap_count, [](float v) { return v == 0.0f; }));
    EXPECT_GT(stimulus_power, 0.0f);
}

class LatencyCallbackOutOfReach : public LatencyCallback, public ::testing::WithParamInterface<int64_t> {};

// A delay the 2000 taps cannot reach leaves the input uncorrelated with every
// tap: the taps wander like the others above and stay below the 0.01 at
// which the display would draw a trace.
TEST_P(LatencyCallbackOutOfReach, DelayOf2000OrMoreLeavesNoPeak)
{
    snapshot_release();
    simulated_loop loop(GetParam(), 1.0f);
    loop.run(locate_frames);
    EXPECT_LT(largest_tap(display_snapshot).magnitude, 0.01f);
}

INSTANTIATE_TEST_SUITE_P(Delays, LatencyCallbackOutOfReach, ::testing::Values(2000, 2500));

}  // namespace
