// How the loopback trace settles. The model adapts slowly by design (a mean
// rate of 2e-6 per frame once the power average has settled, about 10 s per
// time constant), so the picture of the software loopback (-t) sharpens over
// tens of seconds: mid-band within about 2 dB of flat after 10 s, 0.5 dB after
// 20 s, 0.1 dB after 45 s; by then the band edges lie where the loopback's
// own response puts them. One run of 2.16 million frames, checked at the
// three moments in the levels and in the drawn rows.
#include <cmath>
#include <string>
#include <vector>

#include "common/direct_dft.hpp"
#include "display/hooks.hpp"
#include "morvane_fixture.hpp"

namespace {

using MorvaneSettling = MorvaneTest;

// Levels of bins 0 .. 1023 of the loopback's impulse response cut to 2048
// taps, relative to their mean over bins 100 .. 923: a plain DFT in double of
// the response computed with the filters themselves.
std::vector<double> loopback_target_levels()
{
    std::vector<double> h(2048);
    for (int64_t n = 0; n < 2048; n++)
        h[n] = highpass_biquad(delay2(n == 0 ? 1.0f : 0.0f));
    loopback_filters_reset();
    std::vector<double> level = direct_dft_levels(h, 1e-19);
    double mean = 0.0;
    for (int64_t k = 100; k <= 923; k++)
        mean += level[k];
    mean /= 824.0;
    for (double& v : level)
        v -= mean;
    return level;
}

// The display's mean: a float sum over bins 100 .. 923 in increasing order, / 824 in float.
float display_mean()
{
    float sum = 0.0f;
    for (int64_t k = 100; k <= 923; k++)
        sum += spectrum_re[k];
    return sum / 824.0f;
}

// The plot row of bin k as the display computes it: float, ties to even.
int64_t drawn_row(int64_t k, float mean)
{
    return static_cast<int64_t>(std::nearbyint((spectrum_re[k] - mean) * 100.0f + 200.0f));
}

// Runs frames calls of the callback with the snapshot frozen, then one more
// with it released, freezes it, and runs one refresh into the framebuffer.
void run_and_refresh(int64_t frames)
{
    const float in[2] = {0.0f, 0.0f};
    float out[2];
    for (int64_t i = 0; i + 1 < frames; i++)
        response_callback(in, out, 1, nullptr, 0, nullptr);
    snapshot_release();
    response_callback(in, out, 1, nullptr, 0, nullptr);
    ASSERT_TRUE(snapshot_freeze());
    response_analysis();
    response_display(spectrum_re, 64, "software loopback");
}

TEST_F(MorvaneSettling, LoopbackTraceSettlesWithinTwoHalfAndATenthOfADecibel)
{
    const std::vector<double> target = loopback_target_levels();
    // The loopback's own band edges, for a response cut to 2048 taps: bins 1
    // and 1023 about 1.85 dB down, bins 2 and 1022 about 0.14 dB down.
    EXPECT_NEAR(target[1], -1.85, 0.05);
    EXPECT_NEAR(target[1023], -1.85, 0.05);
    EXPECT_NEAR(target[2], -0.14, 0.01);
    EXPECT_NEAR(target[1022], -0.14, 0.01);

    fft_2048(spectrum_re, spectrum_im, -1, 1);
    gfx_open_memory(1025, 301);
    loopback_mode = 0;
    call_once(0.0f);  // the clearing call

    struct checkpoint {
        int64_t frames;   // processed since the clearing call
        double bound_db;  // mid-band levels within +- this of their mean
    };
    const checkpoint checkpoints[] = {{480000, 2.0}, {960000, 0.5}, {2160000, 0.1}};
    int64_t done = 0;
    for (const checkpoint& at : checkpoints) {
        run_and_refresh(at.frames - done);
        done = at.frames;
        const std::string when = std::to_string(at.frames / 48000) + " s";

        // Levels: bins 100 .. 923 relative to the display's mean.
        const float mean = display_mean();
        double low = 0.0, high = 0.0;
        for (int64_t k = 100; k <= 923; k++) {
            low = std::min(low, static_cast<double>(spectrum_re[k] - mean));
            high = std::max(high, static_cast<double>(spectrum_re[k] - mean));
        }
        RecordProperty("mid_band_low_db_at_" + std::to_string(at.frames), std::to_string(low));
        RecordProperty("mid_band_high_db_at_" + std::to_string(at.frames), std::to_string(high));
        EXPECT_GE(low, -at.bound_db) << when;
        EXPECT_LE(high, at.bound_db) << when;

        // Drawn rows: each mid-band point is green where it lies in the window,
        // and no green pixel of columns 101 .. 922 (whose segments join
        // mid-band points only) lies outside the bound.
        const int64_t lowest_row = static_cast<int64_t>(std::nearbyint(200.0 - 100.0 * at.bound_db));
        const int64_t highest_row = static_cast<int64_t>(std::nearbyint(200.0 + 100.0 * at.bound_db));
        for (int64_t k = 100; k <= 923; k++) {
            const int64_t row = drawn_row(k, mean);
            if (row >= 0 && row <= 300) {
                ASSERT_EQ(plot_pixel(k, row), trace_green) << when << ", column " << k << ", row " << row;
            }
            if (k == 100 || k == 923)
                continue;
            for (int64_t green_row : rows_of_colour(k, trace_green)) {
                ASSERT_GE(green_row, lowest_row) << when << ", column " << k;
                ASSERT_LE(green_row, highest_row) << when << ", column " << k;
            }
        }
    }

    // After 45 s the band edges lie within 0.1 dB of the loopback's own, the
    // DC bin far below the window, and the trace starts with a stroke up from
    // below the bottom edge. (The edge points themselves may lie under the
    // read-outs at the left and the level labels at the right.)
    const float mean = display_mean();
    for (int64_t k : {1, 2, 3, 1021, 1022, 1023}) {
        RecordProperty("edge_db_bin_" + std::to_string(k), std::to_string(spectrum_re[k] - mean));
        EXPECT_NEAR(spectrum_re[k] - mean, target[k], 0.1) << "bin " << k;
    }
    EXPECT_LT(spectrum_re[0] - mean, -20.0f);
    EXPECT_EQ(plot_pixel(1, 0), trace_green);  // the stroke up from the DC bin
    for (int64_t k : {1, 1023})
        EXPECT_NEAR(static_cast<double>(drawn_row(k, mean)), 200.0 + 100.0 * target[k], 10.0) << "bin " << k;
}

}  // namespace
