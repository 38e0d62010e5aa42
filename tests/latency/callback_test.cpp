// Karvel's stream callback driven in-process by a simulated loop.
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

// ---- the clearing first call ------------------------------------------------

TEST_F(LatencyCallback, FirstCallClearsFilterWritesSilenceAndTakesNoStimulusSample)
{
    std::fill(std::begin(stimulus_history), std::end(stimulus_history), 0.5f);
    std::fill(std::begin(tap_weights), std::end(tap_weights), -0.5f);
    std::fill(std::begin(display_snapshot), std::end(display_snapshot), 0.25f);
    history_pos = 7;
    update_pos = 7;
    snapshot_release();  // a publication would show in the snapshot

    const float in[2] = {0.3f, 0.3f};
    float out[2] = {9.0f, 9.0f};
    EXPECT_EQ(latency_callback(in, out, 1, nullptr, 0, nullptr), paContinue);

    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[1], 0.0f);
    EXPECT_EQ(reset_pending, 0);
    EXPECT_TRUE(std::all_of(std::begin(stimulus_history), std::end(stimulus_history), [](float v) { return v == 0.0f; }));
    EXPECT_TRUE(std::all_of(std::begin(tap_weights), std::end(tap_weights), [](float v) { return v == 0.0f; }));
    EXPECT_TRUE(std::all_of(display_snapshot, display_snapshot + tap_count, [](float v) { return v == 0.25f; }));
    EXPECT_EQ(stimulus_power, 1.0f);
    EXPECT_EQ(history_pos, 7);
    EXPECT_EQ(update_pos, 7);
    EXPECT_EQ(snapshot_copying.load(), 0);
    // Neither generator has moved: both still give their first results.
    EXPECT_EQ(rand_xs32(0), 0xB11A2BE4u);
    EXPECT_EQ(rand_sign32(0), -1);
}

TEST_F(LatencyCallback, OnlyTheFirstCallClears)
{
    call_once(0.0f);
    const frame_out second = call_once(0.0f);
    EXPECT_NE(second.left, 0.0f);  // the first stimulus sample
    EXPECT_EQ(history_pos, tap_count - 1);
    EXPECT_EQ(update_pos, tap_count - 1);
    EXPECT_EQ(stimulus_history[0], second.left);
    EXPECT_EQ(stimulus_history[tap_count], second.left);
}

// ---- stimulus -----------------------------------------------------------------

TEST_F(LatencyCallback, StimulusStartsWithTheGeneratorsFirstResults)
{
    // rand_xs32 gives 0xB11A2BE4, 0xDC97F51F, 0x2CE7CE25 and rand_sign32 -1, -1, +1.
    const float expected[3] = {
        static_cast<float>(-1.0 * 0xB11A2BE4u * 0.1 / 2147483648.0),
        static_cast<float>(-1.0 * 0xDC97F51Fu * 0.1 / 2147483648.0),
        static_cast<float>(+1.0 * 0x2CE7CE25u * 0.1 / 2147483648.0),
    };
    EXPECT_EQ(call_once(0.0f).left, 0.0f);
    for (float x : expected)
        EXPECT_EQ(call_once(0.0f).left, x);
}

TEST_F(LatencyCallback, StimulusFollowsTheRederivedNoiseAndStaysInsideTwoTenths)
{
    simulated_loop loop(0, 1.0f);
    loop.silent = true;
    loop.run(20000);
    EXPECT_EQ(loop.stimulus_mismatches, 0);
    EXPECT_EQ(loop.right_not_silent, 0);
    const auto [low, high] = std::minmax_element(loop.stimulus.begin(), loop.stimulus.end());
    EXPECT_GT(*low, -0.2f);
    EXPECT_LT(*high, 0.2f);
    EXPECT_TRUE(std::none_of(loop.stimulus.begin(), loop.stimulus.end(), [](float v) { return v == 0.0f; }));
}

// ---- the filter, step by step ---------------------------------------------

// Scalar model of the filter: the history newest first, the dot product summed
// in double, power and step in double then float, the update as float.
struct scalar_filter {
    std::vector<float> history = std::vector<float>(2000, 0.0f);
    std::vector<float> weights = std::vector<float>(2000, 0.0f);
    float power = 1.0f;

    void step(float x, float captured)
    {
        history.insert(history.begin(), x);
        history.pop_back();
        double sum = 0.0;
        for (size_t k = 0; k < weights.size(); k++)
            sum += static_cast<double>(weights[k]) * history[k];
        const float y = static_cast<float>(sum);
        power = static_cast<float>(0.9995 * power + 0.0004999999999999449 * (static_cast<double>(x) * x));
        const float e = captured - y;
        const float mu = static_cast<float>(static_cast<double>(e) * 6e-6 / power);
        for (size_t k = 0; k < weights.size(); k++)
            weights[k] += mu * history[k];
    }
};

TEST_F(LatencyCallback, FirstFramesMatchAScalarRederivation)
{
    constexpr float gain = 0.8f;
    reference_noise noise;
    scalar_filter model;
    call_once(0.0f);

    // First frame: only w[0] can move, and it is exact: step * x0 into zeros.
    const float x0 = noise.next();
    EXPECT_EQ(call_once(gain * x0).left, x0);
    model.step(x0, gain * x0);
    EXPECT_EQ(stimulus_power, model.power);
    EXPECT_EQ(tap_weights[0], model.weights[0]);
    EXPECT_NE(tap_weights[0], 0.0f);
    EXPECT_TRUE(std::all_of(tap_weights + 1, tap_weights + tap_count, [](float v) { return v == 0.0f; }));

    // Later frames: BLAS may sum in another order or fuse the update's multiply
    // and add, so the taps agree to a few float roundings (relative 1e-5).
    std::vector<float> stimulus{x0};
    for (int frame = 1; frame < 12; frame++) {
        const float x = noise.next();
        stimulus.push_back(x);
        const float captured = gain * x;  // a loop of delay 0
        ASSERT_EQ(call_once(captured).left, x);
        model.step(x, captured);
        ASSERT_EQ(stimulus_power, model.power) << "frame " << frame;  // power depends on x alone
        const float scale = *std::max_element(model.weights.begin(), model.weights.end(),
                                              [](float a, float b) { return std::fabs(a) < std::fabs(b); });
        for (int64_t k = 0; k < tap_count; k++)
            ASSERT_NEAR(tap_weights[k], model.weights[k], 1e-5 * std::fabs(scale)) << "frame " << frame << " tap " << k;
    }
    EXPECT_GT(tap_weights[0], 0.0f);  // the taps head for the loop gain at delay 0
}

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
std::ostream& operator<<(std::ostream& os, const gain_case& c) { return os << "delay " << c.delay << " gain " << c.gain; }

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

INSTANTIATE_TEST_SUITE_P(Gains, LatencyCallbackGain,
                         ::testing::Values(gain_case{48, 1.0f}, gain_case{250, -0.5f}));

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

// ---- channels, buffers and odd input --------------------------------------------

TEST_F(LatencyCallback, InputChannelTwoHasNoEffectAndOutputTwoStaysSilent)
{
    simulated_loop quiet(5, 1.0f);
    quiet.input_right = 0.0f;
    quiet.run(3000);
    std::vector<float> reference(tap_weights, tap_weights + tap_count);

    fresh_run();
    simulated_loop noisy(5, 1.0f);
    noisy.input_right = 0.9f;
    noisy.run(3000);
    EXPECT_EQ(noisy.right_not_silent, 0);
    EXPECT_EQ(std::memcmp(reference.data(), tap_weights, tap_count * sizeof(float)), 0);
}

TEST_F(LatencyCallback, SeveralFramesInOneCallActLikeOneCallEach)
{
    constexpr unsigned long frames = 6;
    const float in[2 * frames] = {0.1f, 0.f, 0.2f, 0.f, -0.3f, 0.f, 0.05f, 0.f, 0.4f, 0.f, -0.1f, 0.f};
    float single[2 * frames];
    for (unsigned long i = 0; i < frames; i++)
        latency_callback(in + 2 * i, single + 2 * i, 1, nullptr, 0, nullptr);
    const std::vector<float> single_taps(tap_weights, tap_weights + tap_count);

    fresh_run();
    float batch[2 * frames];
    std::fill(std::begin(batch), std::end(batch), -7.0f);
    EXPECT_EQ(latency_callback(in, batch, frames, nullptr, 0, nullptr), paContinue);
    EXPECT_EQ(std::memcmp(single, batch, sizeof batch), 0);
    EXPECT_EQ(std::memcmp(single_taps.data(), tap_weights, tap_count * sizeof(float)), 0);
}

TEST_F(LatencyCallback, NonFiniteInputSampleDoesNotPoisonTheTaps)
{
    snapshot_release();
    simulated_loop loop(20, 1.0f);
    loop.non_finite_frames = {20000, 20001};  // NaN, then +infinity
    loop.run(40000);
    EXPECT_EQ(loop.stimulus_mismatches, 0);
    EXPECT_TRUE(std::all_of(tap_weights, tap_weights + tap_count, [](float v) { return std::isfinite(v); }));
    EXPECT_EQ(largest_tap(display_snapshot).index, 20);
}

// ---- publication ---------------------------------------------------------------

TEST_F(LatencyCallback, PublishesOnlyWhileTheSnapshotIsNotFrozen)
{
    simulated_loop loop(3, 1.0f);
    loop.run(2000);  // frozen since program load
    EXPECT_TRUE(std::all_of(display_snapshot, display_snapshot + tap_count, [](float v) { return v == 0.0f; }));
    EXPECT_NE(tap_weights[3], 0.0f);

    snapshot_release();
    loop.run(1);
    EXPECT_EQ(std::memcmp(display_snapshot, tap_weights, tap_count * sizeof(float)), 0);
    EXPECT_EQ(snapshot_copying.load(), 0);

    ASSERT_TRUE(snapshot_freeze());
    const std::vector<float> frozen(display_snapshot, display_snapshot + tap_count);
    loop.run(500);
    EXPECT_EQ(std::memcmp(frozen.data(), display_snapshot, tap_count * sizeof(float)), 0);
    EXPECT_NE(std::memcmp(frozen.data(), tap_weights, tap_count * sizeof(float)), 0);
    EXPECT_EQ(snapshot_copying.load(), 0);
}

}  // namespace
