// What both adaptive callbacks, Karvel's (2000 taps) and Morvane's (2048 taps),
// must do, as one grid over the two: the clearing first call, the stimulus, the
// normalised-LMS step against a scalar re-derivation, the ignored channel and
// broken input samples. (Publication and buffers: frame_loop_test.cpp.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "callbacks/programs.hpp"
#include "common/loop_cable.hpp"

namespace {

// One adaptive program: its callback, state and filter constants.
struct adaptive_program {
    const char* name;
    PaStreamCallback* callback;
    void (*fresh_run)();
    int64_t taps;
    float* history;
    float* weights;
    float* snapshot;
    int64_t* history_pos;
    int64_t* update_pos;
    float* power;
    int64_t* reset_pending;
    double power_memory;
    double step_constant;
};

const adaptive_program programs[] = {
    {"karvel", latency_callback, karvel_state_reset, latency::tap_count, latency::stimulus_history,
     latency::tap_weights, latency::display_snapshot, &latency::history_pos, &latency::update_pos,
     &latency::stimulus_power, &latency::reset_pending, 0.9995, 6e-6},
    {"morvane", response_callback, morvane_state_reset, response::tap_count, response::stimulus_history,
     response::tap_weights, rtresponse::display_snapshot, &response::history_pos, &response::update_pos,
     &response::stimulus_power, &response::reset_pending, 0.99995, 2e-6},
};

bool all_equal(const float* begin, const float* end, float value)
{
    return std::all_of(begin, end, [value](float v) { return v == value; });
}

std::vector<float> taps_of(const adaptive_program& p) { return {p.weights, p.weights + p.taps}; }

class AdaptiveCallbacks : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (const adaptive_program& p : programs)
            p.fresh_run();
    }
};

// ---- the clearing first call ------------------------------------------------

TEST_F(AdaptiveCallbacks, FirstCallClearsWritesSilenceAndAdvancesNothing)
{
    for (const adaptive_program& p : programs) {
        p.fresh_run();
        std::fill(p.history, p.history + 2 * p.taps, 0.5f);
        std::fill(p.weights, p.weights + p.taps, -0.5f);
        std::fill(p.snapshot, p.snapshot + p.taps, 0.25f);
        *p.history_pos = 7;
        *p.update_pos = 7;
        rtresponse::loopback_mode = 0;
        delay2(1.0f);  // the loopback filters hold a state that a call would move on
        delay2(2.0f);
        snapshot_release();  // a publication would show in the snapshot

        const float in[2] = {0.3f, 0.3f};
        float out[2] = {9.0f, 9.0f};
        EXPECT_EQ(p.callback(in, out, 1, nullptr, 0, nullptr), paContinue);

        SCOPED_TRACE(p.name);
        EXPECT_EQ(out[0], 0.0f);
        EXPECT_EQ(out[1], 0.0f);
        EXPECT_EQ(*p.reset_pending, 0);
        EXPECT_TRUE(all_equal(p.history, p.history + 2 * p.taps, 0.0f));
        EXPECT_TRUE(all_equal(p.weights, p.weights + p.taps, 0.0f));
        EXPECT_TRUE(all_equal(p.snapshot, p.snapshot + p.taps, 0.25f));
        EXPECT_EQ(*p.power, 1.0f);
        EXPECT_EQ(*p.history_pos, 7);
        EXPECT_EQ(*p.update_pos, 7);
        EXPECT_EQ(snapshot_copying.load(), 0);
        // Neither generator has moved: both still give their first results.
        EXPECT_EQ(rand_xs32(0), 0xB11A2BE4u);
        EXPECT_EQ(rand_sign32(0), -1);
        // Nor has the loopback's delay: it still returns the 1 fed before the call.
        EXPECT_EQ(delay2(3.0f), 1.0f);
    }
}

TEST_F(AdaptiveCallbacks, OnlyTheFirstCallClearsAndBothPositionsStepTogether)
{
    for (const adaptive_program& p : programs) {
        SCOPED_TRACE(p.name);
        p.fresh_run();
        call_frame(p.callback, 0.0f, 0.0f);
        const frame_out second = call_frame(p.callback, 0.0f, 0.0f);
        EXPECT_NE(second.left, 0.0f);  // the first stimulus sample
        EXPECT_EQ(*p.history_pos, p.taps - 1);
        EXPECT_EQ(*p.update_pos, p.taps - 1);
        EXPECT_EQ(p.history[0], second.left);
        EXPECT_EQ(p.history[p.taps], second.left);
        for (int64_t frame = 1; frame < p.taps; frame++) {
            call_frame(p.callback, 0.1f, 0.0f);
            ASSERT_EQ(*p.history_pos, *p.update_pos);
        }
        EXPECT_EQ(*p.history_pos, 0);  // once round the ring
        EXPECT_TRUE(std::equal(p.history, p.history + p.taps, p.history + p.taps));
    }
}

// ---- stimulus -----------------------------------------------------------------

TEST_F(AdaptiveCallbacks, StimulusIsTheSharedNoiseFromTheGeneratorsFirstResults)
{
    // rand_xs32 gives 0xB11A2BE4, 0xDC97F51F, 0x2CE7CE25 and rand_sign32 -1, -1, +1.
    const float expected[3] = {
        static_cast<float>(-1.0 * 0xB11A2BE4u * 0.1 / 2147483648.0),
        static_cast<float>(-1.0 * 0xDC97F51Fu * 0.1 / 2147483648.0),
        static_cast<float>(+1.0 * 0x2CE7CE25u * 0.1 / 2147483648.0),
    };
    for (const adaptive_program& p : programs) {
        SCOPED_TRACE(p.name);
        p.fresh_run();
        EXPECT_EQ(call_frame(p.callback, 0.0f, 0.0f).left, 0.0f);
        for (float x : expected)
            EXPECT_EQ(call_frame(p.callback, 0.0f, 0.0f).left, x);

        p.fresh_run();
        loop_cable loop(p.callback, 0, {1.0f});
        loop.silent = true;
        loop.run(30000);
        EXPECT_EQ(loop.stimulus_mismatches, 0);
        EXPECT_EQ(loop.right_not_silent, 0);
        const auto [low, high] = std::minmax_element(loop.stimulus.begin(), loop.stimulus.end());
        EXPECT_GT(*low, -0.2f);
        EXPECT_LT(*high, 0.2f);
        EXPECT_TRUE(std::none_of(loop.stimulus.begin(), loop.stimulus.end(), [](float v) { return v == 0.0f; }));
    }
}

// ---- the filter, step by step ---------------------------------------------

// Scalar model of the filter: the history newest first, the dot product summed
// in double, power and step in double then float, the update as float.
struct scalar_filter {
    std::vector<float> history, weights;
    double memory, step_constant;
    float power = 1.0f;

    scalar_filter(const adaptive_program& p)
        : history(static_cast<size_t>(p.taps), 0.0f),
          weights(static_cast<size_t>(p.taps), 0.0f),
          memory(p.power_memory),
          step_constant(p.step_constant)
    {
    }

    void step(float s, float captured)
    {
        history.insert(history.begin(), s);
        history.pop_back();
        double sum = 0.0;
        for (size_t k = 0; k < weights.size(); k++)
            sum += static_cast<double>(weights[k]) * history[k];
        const float e = captured - static_cast<float>(sum);
        power = static_cast<float>(memory * power + (1.0 - memory) * (static_cast<double>(s) * s));
        const float mu = static_cast<float>(static_cast<double>(e) * step_constant / power);
        for (size_t k = 0; k < weights.size(); k++)
            weights[k] += mu * history[k];
    }
};

// A loop of gain 0.8 at delay 0 for Karvel, of gain -0.8 at delay 1 for Morvane.
TEST_F(AdaptiveCallbacks, FirstFramesMatchAScalarRederivation)
{
    struct loop_case {
        float gain;
        int64_t delay, frames;
    };
    const loop_case cases[] = {{0.8f, 0, 12}, {-0.8f, 1, 16}};
    for (int which = 0; which < 2; which++) {
        const adaptive_program& p = programs[which];
        const loop_case c = cases[which];
        SCOPED_TRACE(p.name);
        p.fresh_run();
        reference_noise noise;
        scalar_filter model(p);
        call_frame(p.callback, 0.0f, 0.0f);

        // First frame: only tap 0 can move, and it is exact: step * s0 into zeros.
        const float s0 = noise.next();
        EXPECT_EQ(call_frame(p.callback, c.gain * s0, 0.0f).left, s0);
        model.step(s0, c.gain * s0);
        EXPECT_EQ(*p.power, model.power);
        EXPECT_EQ(p.weights[0], model.weights[0]);
        EXPECT_EQ(p.weights[0] < 0.0f, c.gain < 0.0f);
        EXPECT_NE(p.weights[0], 0.0f);
        EXPECT_TRUE(all_equal(p.weights + 1, p.weights + p.taps, 0.0f));

        // Later frames: BLAS may sum in another order, so the taps agree to a
        // few float roundings (relative 1e-5).
        std::vector<float> played{s0};
        for (int64_t frame = 1; frame < c.frames; frame++) {
            const float s = noise.next();
            played.push_back(s);
            const float captured = c.gain * played[static_cast<size_t>(frame - c.delay)];
            ASSERT_EQ(call_frame(p.callback, captured, 0.0f).left, s);
            model.step(s, captured);
            ASSERT_EQ(*p.power, model.power) << "frame " << frame;  // the power depends on s alone
            const float scale =
                std::fabs(*std::max_element(model.weights.begin(), model.weights.end(),
                                            [](float a, float b) { return std::fabs(a) < std::fabs(b); }));
            for (int64_t k = 0; k < p.taps; k++)
                ASSERT_NEAR(p.weights[k], model.weights[k], 1e-5 * scale) << "frame " << frame << " tap " << k;
        }
        EXPECT_EQ(p.weights[c.delay] < 0.0f, c.gain < 0.0f);  // heading for the loop's gain
    }
}

// ---- ignored channels, broken samples -----------------------------------------

// Output 2 is always exactly 0; input 2 (full-scale noise, even NaN) changes
// nothing: the taps are bit for bit those of a run with input 2 at 0.
TEST_F(AdaptiveCallbacks, OutputTwoIsSilentAndInputTwoIsIgnored)
{
    const std::vector<float> path = {0.5f, -0.25f, 0.1f};
    for (const adaptive_program& p : programs) {
        SCOPED_TRACE(p.name);
        p.fresh_run();
        loop_cable quiet(p.callback, 40, path);
        quiet.input_right = 0.0f;
        quiet.run(60000);
        const std::vector<float> reference = taps_of(p);
        EXPECT_EQ(quiet.right_not_silent, 0);
        for (int variant = 0; variant < 2; variant++) {
            p.fresh_run();
            loop_cable loud(p.callback, 40, path);
            loud.noisy_right = variant == 0;
            loud.input_right = std::numeric_limits<float>::quiet_NaN();
            loud.run(60000);
            EXPECT_EQ(loud.right_not_silent, 0);
            EXPECT_EQ(loud.stimulus_mismatches, 0);
            EXPECT_EQ(taps_of(p), reference) << "variant " << variant;
        }
    }
}

// A NaN or infinite input sample counts as silence: the run goes on bit for
// bit as if those frames had captured 0, no tap becomes NaN, and the model
// goes on finding the loop.
TEST_F(AdaptiveCallbacks, NonFiniteInputSamplesCountAsSilence)
{
    const std::vector<int64_t> glitches = {100, 30000, 30001, 30002, 45000};
    for (const adaptive_program& p : programs) {
        SCOPED_TRACE(p.name);
        p.fresh_run();
        snapshot_release();
        loop_cable zeros(p.callback, 12, {0.9f});
        zeros.non_finite_frames = glitches;
        zeros.non_finite_as_silence = true;
        zeros.run(150000);
        const std::vector<float> reference = taps_of(p);

        p.fresh_run();
        snapshot_release();
        loop_cable broken(p.callback, 12, {0.9f});
        broken.non_finite_frames = glitches;
        broken.run(150000);
        EXPECT_TRUE(std::all_of(p.weights, p.weights + p.taps, [](float v) { return std::isfinite(v); }));
        EXPECT_TRUE(std::isfinite(*p.power));
        EXPECT_EQ(taps_of(p), reference);
        EXPECT_GT(p.weights[12], 0.05f);
        EXPECT_EQ(std::max_element(p.snapshot, p.snapshot + p.taps) - p.snapshot, 12);
    }
}

}  // namespace
