// The model converges to the loop's impulse response: an FIR path at several
// delays, the software loopback, a loop longer than the 2048 taps, and the
// decay after the cable is pulled. Tolerances come from adaptation_model
// (morvane_fixture.hpp): the expected taps are (1 - shrink) times the path, and
// each tap wanders around that by a spread whose largest value over 2048 taps
// is about 3.5 standard deviations; 6 leaves room for the model's
// simplifications. A wrong constant shows at once: three times the step
// (6e-6) would leave shrink near 3e-4 at 30 s and miss the expected taps by
// over 50 standard deviations.
#include <cmath>
#include <vector>

#include "morvane_fixture.hpp"

namespace {

using namespace response;

using MorvaneConvergence = MorvaneTest;

// Runs the loop for frames frames, stepping the model with the same stimulus.
adaptation_model run_with_model(simulated_loop& loop, int64_t frames, double reachable, double unreachable)
{
    adaptation_model model;
    reference_noise noise;  // the same sequence the loop plays
    for (int64_t done = 0; done < frames;) {
        const int64_t chunk = std::min<int64_t>(4096, frames - done);
        loop.run(chunk);
        for (int64_t i = 0; i < chunk; i++)
            model.step(noise.next(), reachable, unreachable);
        done += chunk;
    }
    return model;
}

// Largest |tap k - (1 - shrink) * expected[k]| over all 2048 taps, in units of
// the model's standard deviation; also where it is.
struct deviation {
    double in_sd = 0.0;
    int64_t tap = 0;
};
deviation largest_deviation(const std::vector<double>& expected, const adaptation_model& model)
{
    deviation worst;
    for (int64_t k = 0; k < tap_count; k++) {
        const double d = std::fabs(tap_weights[k] - (1.0 - model.shrink) * expected[k]) / model.sd();
        if (d > worst.in_sd)
            worst = {d, k};
    }
    return worst;
}

// 30 s of frames: the path 0.5, -0.25, 0.1 at delays D, D + 1, D + 2, with D
// at the start and the very end of the taps (where an index is off by one;
// a delay in the middle is 30 s more of adaptation and no edge).
TEST_F(MorvaneConvergence, ShortFirPathIsFoundAtAnyDelayWithinTheTaps)
{
    const std::vector<float> path = {0.5f, -0.25f, 0.1f};
    const double energy = 0.5 * 0.5 + 0.25 * 0.25 + 0.1 * 0.1;
    for (int64_t delay : {int64_t{0}, int64_t{2045}}) {
        fresh_run();
        simulated_loop loop(delay, path);
        const adaptation_model model = run_with_model(loop, 1440000, energy, 0.0);
        ASSERT_EQ(loop.stimulus_mismatches, 0);
        EXPECT_LT(model.shrink, 0.07);  // the taps are within 7 % of the path
        EXPECT_LT(model.sd(), 1.5e-4);

        std::vector<double> expected(tap_count, 0.0);
        for (size_t j = 0; j < path.size(); j++)
            expected[delay + j] = path[j];
        const deviation worst = largest_deviation(expected, model);
        EXPECT_LT(worst.in_sd, 6.0) << "delay " << delay << ": tap " << worst.tap << " is " << tap_weights[worst.tap]
                                    << ", expected " << (1.0 - model.shrink) * expected[worst.tap] << " +- "
                                    << model.sd();
    }
}

// The path's first 2048 frames are all the model can hold: a loop of delay
// 2047 puts its gain into the last tap, one of 2048 leaves every tap near 0
// (the captured signal is then noise to the model).
TEST_F(MorvaneConvergence, ADelayBeyond2047LeavesTheTapsNearZero)
{
    simulated_loop inside(2047, {1.0f});
    const adaptation_model model_inside = run_with_model(inside, 480000, 1.0, 0.0);
    std::vector<double> expected(tap_count, 0.0);
    expected[2047] = 1.0;
    EXPECT_LT(largest_deviation(expected, model_inside).in_sd, 6.0);
    EXPECT_GT(tap_weights[2047], 0.5f);

    fresh_run();
    simulated_loop beyond(2048, {1.0f});
    const adaptation_model model_beyond = run_with_model(beyond, 480000, 0.0, 1.0);
    const deviation worst = largest_deviation(std::vector<double>(tap_count, 0.0), model_beyond);
    EXPECT_LT(worst.in_sd, 6.0) << "tap " << worst.tap << " is " << tap_weights[worst.tap];
    EXPECT_LT(6.0 * model_beyond.sd(), 0.007);  // near 0: below 1 % of the loop's gain
}

// When the cable is pulled the taps decay towards 0 at the adaptation's own
// rate: in the mean by (1 - a) per frame, as they converged.
TEST_F(MorvaneConvergence, PulledCableLetsTheTapsDecay)
{
    simulated_loop loop(10, {0.8f});
    const adaptation_model connected_model = run_with_model(loop, 480000, 0.64, 0.0);
    const float connected = tap_weights[10];
    EXPECT_NEAR(connected, 0.8 * (1.0 - connected_model.shrink), 6.0 * connected_model.sd());

    loop.silent = true;
    adaptation_model model = connected_model;
    reference_noise noise;
    for (int64_t i = 0; i < 480000; i++)
        noise.next();
    for (int64_t i = 0; i < 480000; i++)
        model.step(noise.next(), 0.0, 0.0);
    loop.run(480000);
    const double decay = model.shrink / connected_model.shrink;
    EXPECT_NEAR(tap_weights[10], connected * decay, 0.01 * connected);
    EXPECT_LT(decay, 0.4);
}

// The software loopback (-t): the taps head for the impulse response of
// delay2 followed by highpass_biquad, cut to 2048 taps; taps 0 and 1 stay
// near 0 and the response starts at tap 2.
TEST_F(MorvaneConvergence, LoopbackTapsApproachTheLoopbackImpulseResponse)
{
    // The loopback's impulse response from the filters themselves, and the
    // energy of the part beyond the taps, which the model sees as noise.
    std::vector<double> expected(tap_count);
    for (int64_t n = 0; n < tap_count; n++)
        expected[n] = highpass_biquad(delay2(n == 0 ? 1.0f : 0.0f));
    double tail = 0.0;
    for (int64_t n = tap_count; n < 40000; n++) {
        const double v = highpass_biquad(delay2(0.0f));
        tail += v * v;
    }
    double reachable = 0.0;
    for (double v : expected)
        reachable += v * v;
    loopback_filters_reset();
    ASSERT_EQ(expected[0], 0.0);
    ASSERT_EQ(expected[1], 0.0);
    ASSERT_NEAR(expected[2], 0.99630445, 1e-7);

    loopback_mode = 0;
    simulated_loop loop(0, {});
    loop.silent = true;  // input 1 is replaced anyway
    const adaptation_model model = run_with_model(loop, 1440000, reachable, tail);
    const deviation worst = largest_deviation(expected, model);
    EXPECT_LT(worst.in_sd, 6.0) << "tap " << worst.tap << " is " << tap_weights[worst.tap] << ", expected "
                                << (1.0 - model.shrink) * expected[worst.tap] << " +- " << model.sd();
    EXPECT_LT(std::fabs(tap_weights[0]), 6.0 * model.sd());
    EXPECT_LT(std::fabs(tap_weights[1]), 6.0 * model.sd());
    EXPECT_GT(tap_weights[2], 0.9f);
    EXPECT_LT(6.0 * model.sd(), 0.002);
}

}  // namespace
