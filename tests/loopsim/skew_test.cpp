// Channel 2's own clock (--ppm2) against its closed form, sample by sample:
// a sine played on both channels comes back on channel 1 as it was and on
// channel 2 read at m / (1 + PPM2 1e-6) less its lag; and the crosstalk that
// grows with the level (cubic) against 3/4 g A^3 at each level.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "common/rig.hpp"
#include "tests/loopsim/tone.hpp"
#include "tools/loopsim/loop.hpp"

TEST(LoopsimSkew, ChannelTwoReadsThroughItsOwnClock)
{
    // Each frame m from the first sound (frame 0 here): channel 1 carries the
    // played sine D frames late; channel 2 the played sine at (m step - lag)
    // - D, step = 1 / (1 + PPM2 1e-6), lag 65 frames and for a slow clock an
    // hour's slip more: within 1e-6 of full scale (the resampler is flat to
    // 1e-4 dB and its table's interpolation 1e-7 down), over 2 s.
    struct row {
        double rate, ppm2, hz;
        double ppm;  // the stream stage's clock, on both channels
    };
    const row rows[] = {{48000.0, 0.05, 16000.0, 0.0}, {48000.0, 0.3, 997.0, 0.0},   {44100.0, -0.3, 8000.0, 0.0},
                        {96000.0, 10.0, 19000.0, 0.0}, {48000.0, -10.0, 125.0, 0.0}, {48000.0, 0.3, 1000.0, 2.0}};
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.rate << " Hz, --ppm2 " << r.ppm2 << ", " << r.hz << " Hz, --ppm "
                                        << r.ppm);
        loopsim::loop_options o;
        o.channels = 2, o.ppm2 = r.ppm2, o.ppm = r.ppm;
        o.path.rate = r.rate, o.path.delay = 40;
        ASSERT_EQ(loopsim::loop_check(o), "");
        loopsim::loop l = loopsim::loop_build(o);
        static loopsim::glitch_queue q;
        const double a = 0.5, step = 1.0 / (1.0 + r.ppm2 * 1e-6);
        const double lag = 65.0 + (r.ppm2 < 0.0 ? std::ceil(-r.ppm2 * 1e-6 * 3600.0 * r.rate) : 0.0);
        // With --ppm the stream stage reads both channels at m / (1 + PPM 1e-6) - 64 first.
        const double step1 = 1.0 / (1.0 + r.ppm * 1e-6), lag1 = r.ppm != 0.0 ? 64.0 : 0.0;
        const auto played = [&](double t) { return t < 0.0 ? 0.0 : a * std::cos(2.0 * M_PI * r.hz * t / r.rate); };
        double worst1 = 0.0, worst2 = 0.0;
        const int64_t frames = static_cast<int64_t>(2.0 * r.rate);
        for (int64_t m = 0; m < frames; m++) {
            const double t = static_cast<double>(m);
            const double x[2] = {played(t), played(t)};
            double y[2];
            loopsim::loop_process(l, x, y, q);
            const double stage = t * step1 - lag1;  // the stream stage's output frame's position
            if (m < 2000 + static_cast<int64_t>(lag))
                continue;
            worst1 = std::max(worst1, std::fabs(y[0] - played(stage - 40.0)));
            const double second = (t * step - lag) * step1 - lag1;
            worst2 = std::max(worst2, std::fabs(y[1] - played(second - 40.0)));
        }
        EXPECT_LT(worst1, 1e-6);
        EXPECT_LT(worst2, 1e-6);
        EXPECT_EQ(q.clamped.load(), 0u);
    }
}

TEST(LoopsimChannels, CubicCrosstalkGrowsTwoDecibelsADecibel)
{
    // g x^3 of the other channel's linear output, g = 4/3 x 10^(DB/20): a
    // sine of peak A leaks 3/4 g A^3 at its own frequency, DB + 2 x 20 log10 A
    // re itself, and 1/4 g A^3 at its third harmonic; --print-crosstalk-at
    // gives DB, the full-scale sine's.
    for (const double db : {-80.0, -110.0})
        for (const double level : {0.0, -1.0, -19.06, -40.0}) {
            SCOPED_TRACE(testing::Message() << db << " dB at " << level << " dBFS");
            loopsim::loop_options o;
            o.channels = 2, o.crosstalk_db = db, o.shape = loopsim::crosstalk_shape::cubic;
            loopsim::loop l = loopsim::loop_build(o);
            static loopsim::glitch_queue q;
            const double a = std::pow(10.0, level / 20.0), hz = 1000.0;
            std::vector<double> y0(48000), y1(48000);
            for (size_t n = 0; n < y0.size(); n++) {
                const double x[2] = {a * std::cos(2.0 * M_PI * std::fmod(hz * static_cast<double>(n), rate) / rate),
                                     0.0};
                double y[2];
                loopsim::loop_process(l, x, y, q);
                y0[n] = y[0], y1[n] = y[1];
            }
            const double own = std::abs(tone_at(y0, 0, 48000, hz, rate));
            EXPECT_NEAR(20.0 * std::log10(std::abs(tone_at(y1, 0, 48000, hz, rate)) / own), db + 2.0 * level, 1e-6);
            EXPECT_NEAR(20.0 * std::log10(std::abs(tone_at(y1, 0, 48000, 3.0 * hz, rate)) / own),
                        db + 2.0 * level + 20.0 * std::log10(1.0 / 3.0), 1e-6);
            EXPECT_NEAR(20.0 * std::log10(std::abs(loopsim::loop_crosstalk_at(o, hz))), db, 1e-9);
        }
}
