// Morvane's stream callback driven in-process: the clearing first call, the
// stimulus, the filter step by step, silence, the two ignored channels, broken
// input samples, the software loopback switch, publication and buffer lengths.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "display/display.hpp"
#include "display/hooks.hpp"
#include "morvane_fixture.hpp"

namespace {

using namespace response;

using MorvaneCallback = MorvaneTest;

bool all_equal(const float* begin, const float* end, float value)
{
    return std::all_of(begin, end, [value](float v) { return v == value; });
}

// ---- the clearing first call ------------------------------------------------

TEST_F(MorvaneCallback, FirstCallClearsWritesSilenceAndAdvancesNothing)
{
    std::fill(std::begin(stimulus_history), std::end(stimulus_history), 0.5f);
    std::fill(std::begin(tap_weights), std::end(tap_weights), -0.5f);
    std::fill(display_snapshot, display_snapshot + 2048, 0.25f);
    history_pos = 7;
    update_pos = 7;
    loopback_mode = 0;
    delay2(1.0f);  // the loopback filters hold a state that a call would move on
    delay2(2.0f);
    snapshot_release();  // a publication would show in the snapshot

    const float in[2] = {0.3f, 0.3f};
    float out[2] = {9.0f, 9.0f};
    EXPECT_EQ(response_callback(in, out, 1, nullptr, 0, nullptr), paContinue);

    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[1], 0.0f);
    EXPECT_EQ(reset_pending, 0);
    EXPECT_TRUE(all_equal(stimulus_history, stimulus_history + 2 * tap_count, 0.0f));
    EXPECT_TRUE(all_equal(tap_weights, tap_weights + tap_count, 0.0f));
    EXPECT_TRUE(all_equal(display_snapshot, display_snapshot + 2048, 0.25f));
    EXPECT_EQ(stimulus_power, 1.0f);
    EXPECT_EQ(history_pos, 7);
    EXPECT_EQ(update_pos, 7);
    EXPECT_EQ(snapshot_copying.load(), 0);
    // Neither generator has moved: both still give their first results.
    EXPECT_EQ(rand_xs32(0), 0xB11A2BE4u);
    EXPECT_EQ(rand_sign32(0), -1);
    // Nor has the loopback's delay: it still returns the 1 fed before the call.
    EXPECT_EQ(delay2(3.0f), 1.0f);
}

TEST_F(MorvaneCallback, OnlyTheFirstCallClearsAndBothPositionsStepTogether)
{
    call_once(0.0f);
    const frame_out second = call_once(0.0f);
    EXPECT_NE(second.left, 0.0f);  // the first stimulus sample
    EXPECT_EQ(history_pos, tap_count - 1);
    EXPECT_EQ(update_pos, tap_count - 1);
    EXPECT_EQ(stimulus_history[0], second.left);
    EXPECT_EQ(stimulus_history[tap_count], second.left);

    for (int64_t frame = 1; frame < tap_count; frame++) {
        call_once(0.1f);
        ASSERT_EQ(history_pos, update_pos);
    }
    EXPECT_EQ(history_pos, 0);  // 2048 frames: once round the ring
    EXPECT_TRUE(std::equal(stimulus_history, stimulus_history + tap_count, stimulus_history + tap_count));
}

// ---- stimulus -----------------------------------------------------------------

TEST_F(MorvaneCallback, StimulusIsTheSharedNoiseFromTheGeneratorsFirstResults)
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

    fresh_run();
    simulated_loop loop(0, {1.0f});
    loop.silent = true;
    loop.run(30000);
    EXPECT_EQ(loop.stimulus_mismatches, 0);
    const auto [low, high] = std::minmax_element(loop.stimulus.begin(), loop.stimulus.end());
    EXPECT_GT(*low, -0.2f);
    EXPECT_LT(*high, 0.2f);
    EXPECT_TRUE(std::none_of(loop.stimulus.begin(), loop.stimulus.end(), [](float v) { return v == 0.0f; }));
}

// ---- the filter, step by step ---------------------------------------------

// Scalar model of the filter: the history newest first, the dot product summed
// in double, power and step in double then float, the update as float.
struct scalar_filter {
    std::vector<float> history = std::vector<float>(2048, 0.0f);
    std::vector<float> weights = std::vector<float>(2048, 0.0f);
    float power = 1.0f;

    void step(float s, float captured)
    {
        history.insert(history.begin(), s);
        history.pop_back();
        double sum = 0.0;
        for (size_t k = 0; k < weights.size(); k++)
            sum += static_cast<double>(weights[k]) * history[k];
        const float y = static_cast<float>(sum);
        const float e = captured - y;
        power = static_cast<float>(power * 0.99995 + (static_cast<double>(s) * s) * 4.999999999999449e-05);
        const float mu = static_cast<float>(static_cast<double>(e) * 2e-6 / power);
        for (size_t k = 0; k < weights.size(); k++)
            weights[k] += mu * history[k];
    }
};

TEST_F(MorvaneCallback, FirstFramesMatchAScalarRederivation)
{
    constexpr float gain = -0.8f;
    reference_noise noise;
    scalar_filter model;
    call_once(0.0f);

    // First frame: only tap 0 can move, and it is exact: step * s0 into zeros.
    const float s0 = noise.next();
    EXPECT_EQ(call_once(gain * s0).left, s0);
    model.step(s0, gain * s0);
    EXPECT_EQ(stimulus_power, model.power);
    EXPECT_EQ(tap_weights[0], model.weights[0]);
    EXPECT_LT(tap_weights[0], 0.0f);
    EXPECT_TRUE(all_equal(tap_weights + 1, tap_weights + tap_count, 0.0f));

    // Later frames, a loop of delay 1: BLAS may sum in another order or fuse
    // the update's multiply and add, so the taps agree to a few float roundings
    // (relative 1e-5).
    float previous = s0;
    for (int frame = 1; frame < 16; frame++) {
        const float s = noise.next();
        const float captured = gain * previous;
        ASSERT_EQ(call_once(captured).left, s);
        model.step(s, captured);
        previous = s;
        ASSERT_EQ(stimulus_power, model.power) << "frame " << frame;  // the power depends on s alone
        const float scale = std::fabs(*std::max_element(model.weights.begin(), model.weights.end(), [](float a, float b) {
            return std::fabs(a) < std::fabs(b);
        }));
        for (int64_t k = 0; k < tap_count; k++)
            ASSERT_NEAR(tap_weights[k], model.weights[k], 1e-5 * scale) << "frame " << frame << " tap " << k;
    }
    EXPECT_LT(tap_weights[1], 0.0f);  // heading for the loop's gain at delay 1
}

// ---- silence, ignored channels, broken samples --------------------------------

// With exact silence at input 1 every tap stays exactly 0, and every refresh
// (analysis, then the display into a 1025 x 301 framebuffer) draws the trace
// as one straight line on the 0 dB grid line, y = 200, window row 100.
TEST_F(MorvaneCallback, SilenceKeepsEveryTapZeroAndEveryRefreshFlat)
{
    fft_2048(spectrum_re, spectrum_im, -1, 1);
    gfx_open_memory(1025, 301);
    simulated_loop loop(0, {1.0f});
    loop.silent = true;
    for (int refresh = 0; refresh < 4; refresh++) {
        loop.run(25000);
        ASSERT_TRUE(snapshot_freeze());
        response_analysis();
        response_display(spectrum_re, 64, "silent interface");
        snapshot_release();

        ASSERT_TRUE(all_equal(tap_weights, tap_weights + tap_count, 0.0f)) << "refresh " << refresh;
        ASSERT_TRUE(all_equal(display_snapshot, display_snapshot + 2048, 0.0f));
        // Columns 997 .. 1021 of that row lie under the blanked "0dB" label.
        for (int64_t x = 0; x < 1025; x++) {
            const std::vector<int64_t> rows = rows_of_colour(x, trace_green);
            if (x < 997 || (x >= 1022 && x < 1024)) {
                ASSERT_EQ(rows, std::vector<int64_t>{200}) << "refresh " << refresh << " column " << x;
                ASSERT_EQ(gfx_pixel(x, 100), trace_green);
            } else {
                ASSERT_TRUE(rows.empty()) << "column " << x;
            }
        }
    }
    EXPECT_EQ(loop.stimulus_mismatches, 0);
}

// Output 2 is always exactly 0; input 2 (full-scale noise, even NaN) changes
// nothing: the taps are bit for bit those of a run with input 2 at 0.
TEST_F(MorvaneCallback, OutputTwoIsSilentAndInputTwoIsIgnored)
{
    const std::vector<float> path = {0.5f, -0.25f, 0.1f};
    simulated_loop quiet(40, path);
    quiet.input_right = 0.0f;
    quiet.run(60000);
    const std::vector<float> reference(tap_weights, tap_weights + tap_count);
    EXPECT_EQ(quiet.right_not_silent, 0);

    for (int variant = 0; variant < 2; variant++) {
        fresh_run();
        simulated_loop loud(40, path);
        loud.noisy_right = variant == 0;
        loud.input_right = std::numeric_limits<float>::quiet_NaN();
        loud.run(60000);
        EXPECT_EQ(loud.right_not_silent, 0);
        EXPECT_EQ(loud.stimulus_mismatches, 0);
        EXPECT_TRUE(std::equal(reference.begin(), reference.end(), tap_weights)) << "variant " << variant;
    }
}

// A NaN or infinite input sample counts as silence: the run goes on bit for
// bit as if those frames had captured 0, and no tap becomes NaN.
TEST_F(MorvaneCallback, NonFiniteInputSamplesCountAsSilence)
{
    const std::vector<float> path = {0.9f};
    const std::vector<int64_t> glitches = {100, 30000, 30001, 30002, 45000};
    simulated_loop zeros(12, path);
    zeros.non_finite_frames = glitches;
    zeros.non_finite_as_silence = true;
    zeros.run(150000);
    const std::vector<float> reference(tap_weights, tap_weights + tap_count);

    fresh_run();
    simulated_loop broken(12, path);
    broken.non_finite_frames = glitches;
    broken.run(150000);
    EXPECT_TRUE(std::all_of(tap_weights, tap_weights + tap_count, [](float v) { return std::isfinite(v); }));
    EXPECT_TRUE(std::isfinite(stimulus_power));
    EXPECT_TRUE(std::equal(reference.begin(), reference.end(), tap_weights));
    EXPECT_GT(tap_weights[12], 0.05f);  // and the model kept adapting
}

// ---- the software loopback switch ---------------------------------------------

// Only loopback_mode 0 replaces the input: then input 1 (even NaN) is
// irrelevant; -1 (no -t) and 1 (-t1) measure input 1 and leave the loopback
// filters idle.
TEST_F(MorvaneCallback, LoopbackReplacesTheInputOnlyInModeZero)
{
    loopback_mode = 0;
    simulated_loop quiet(0, {1.0f});
    quiet.silent = true;
    quiet.run(150000);
    const std::vector<float> reference(tap_weights, tap_weights + tap_count);
    EXPECT_GT(tap_weights[2], 0.05f);  // the loopback path starts at lag 2

    fresh_run();
    loopback_mode = 0;
    simulated_loop noisy(5, {0.7f});
    noisy.non_finite_frames = {10, 11, 12};
    noisy.run(150000);
    EXPECT_TRUE(std::equal(reference.begin(), reference.end(), tap_weights));

    for (int64_t mode : {int64_t{-1}, int64_t{1}}) {
        fresh_run();
        loopback_mode = mode;
        simulated_loop loop(5, {0.7f});
        loop.run(150000);
        EXPECT_GT(tap_weights[5], 0.05f) << "mode " << mode;
        EXPECT_LT(std::fabs(tap_weights[2]), 0.002f) << "mode " << mode;
        EXPECT_EQ(delay2(1.0f), 0.0f) << "mode " << mode;  // the delay's state is still zero
        EXPECT_EQ(delay2(2.0f), 0.0f) << "mode " << mode;
    }
}

// ---- publication and buffer lengths -----------------------------------------

// The taps reach the snapshot on every call while it is not frozen, never
// while it is, and snapshot_copying is down after every call.
TEST_F(MorvaneCallback, PublishesTheTapsOnlyWhileNotFrozen)
{
    simulated_loop loop(3, {0.6f});
    loop.run(5000);  // frozen from the start: nothing published
    EXPECT_TRUE(all_equal(display_snapshot, display_snapshot + 2049, 0.0f));
    EXPECT_NE(tap_weights[3], 0.0f);

    snapshot_release();
    for (int call = 0; call < 50; call++) {
        loop.run(1);
        ASSERT_EQ(std::memcmp(display_snapshot, tap_weights, 2048 * sizeof(float)), 0);
        ASSERT_EQ(snapshot_copying.load(), 0);
    }
    ASSERT_TRUE(snapshot_freeze());
    const std::vector<float> frozen(display_snapshot, display_snapshot + 2048);
    loop.run(500);
    EXPECT_TRUE(std::equal(frozen.begin(), frozen.end(), display_snapshot));
    EXPECT_NE(std::memcmp(display_snapshot, tap_weights, 2048 * sizeof(float)), 0);
    EXPECT_EQ(display_snapshot[2048], 0.0f);  // the spare element is never written
}

// Buffers of several frames give what the same frames give one per call, and
// missing buffers count as silence in and nowhere to play out.
TEST_F(MorvaneCallback, LongerBuffersAndMissingBuffers)
{
    constexpr int64_t frames = 64;
    std::vector<float> in(2 * frames), out(2 * frames), single_out(2 * frames);
    reference_noise pattern{0x2468ACEu, 0x13579BDu};
    for (float& v : in)
        v = pattern.next();

    // The clearing frame comes first in the first buffer and plays silence.
    EXPECT_EQ(response_callback(in.data(), out.data(), frames, nullptr, 0, nullptr), paContinue);
    EXPECT_EQ(out[0], 0.0f);
    for (int round = 0; round < 20; round++)
        response_callback(in.data(), out.data(), frames, nullptr, 0, nullptr);
    const std::vector<float> taps(tap_weights, tap_weights + tap_count);

    fresh_run();
    for (int round = 0; round < 21; round++)
        for (int64_t f = 0; f < frames; f++) {
            const frame_out o = call_once(in[2 * f], in[2 * f + 1]);
            single_out[2 * f] = o.left;
            single_out[2 * f + 1] = o.right;
        }
    EXPECT_TRUE(std::equal(taps.begin(), taps.end(), tap_weights));
    EXPECT_EQ(out, single_out);

    fresh_run();
    EXPECT_EQ(response_callback(nullptr, nullptr, 1, nullptr, 0, nullptr), paContinue);
    for (int call = 0; call < 1000; call++)
        EXPECT_EQ(response_callback(nullptr, nullptr, 1, nullptr, 0, nullptr), paContinue);
    EXPECT_TRUE(all_equal(tap_weights, tap_weights + tap_count, 0.0f));
    EXPECT_EQ(history_pos, tap_count - 1000);
}

}  // namespace
