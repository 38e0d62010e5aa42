// Morvane's stream callback in-process: silence drawn as a flat trace, and the
// software loopback switch. (What both adaptive callbacks share is in
// tests/callbacks/adaptive_test.cpp.)
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

// ---- silence -------------------------------------------------------------------

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

}  // namespace
