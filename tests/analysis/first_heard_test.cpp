// The first captured frame that holds a played click, on captures written
// here: a pure delay in digital silence and under noise down to -140 dBFS, DC
// and hum riding under it, a converter's linear-phase filter ringing ahead of
// its main tap, and what must not be read as heard (an answer under the
// noise, a glitch in the quiet that raised it, nothing captured). The truth is
// the delay written, and for the filter the first of its own taps above 1 %
// of its largest, computed here from the taps.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "analysis/first_heard.hpp"

namespace first_heard_scenes {

constexpr double fs = 48000.0;
constexpr int64_t heard_quiet_frames = 4096, heard_capture_frames = 2000;

// A 63-tap windowed-sinc low-pass at 0.45 fs (Blackman), its main tap at 31.
std::vector<double> converter_taps()
{
    std::vector<double> h(63);
    for (int n = 0; n < 63; n++) {
        const double m = n - 31.0, pi = std::numbers::pi;
        const double sinc = m == 0.0 ? 0.9 : std::sin(0.9 * pi * m) / (pi * m);
        const double w = 0.42 - 0.5 * std::cos(2.0 * pi * n / 62.0) + 0.08 * std::cos(4.0 * pi * n / 62.0);
        h[static_cast<size_t>(n)] = sinc * w;
    }
    return h;
}

struct scene {
    const char* what;
    int64_t delay = 300;        // the click's main tap, from the capture's start
    double click = 0.25;        // its amplitude at the capture
    double noise_dbfs = -300;   // white noise's RMS
    double dc = 0.0;            // an offset under everything
    double hum = 0.0;           // a 50 Hz hum's amplitude
    bool filter = false;        // through converter_taps
    double quiet_glitch = 0.0;  // a sample this large in the quiet
    int64_t expected = 0;       // -1: not heard
};

// The quiet and the capture of one scene: the frames run on through both.
void render(const scene& s, std::vector<float>& quiet, std::vector<float>& capture)
{
    std::mt19937_64 random(7);
    std::normal_distribution<double> gauss(0.0, std::pow(10.0, s.noise_dbfs / 20.0));
    const std::vector<double> h = s.filter ? converter_taps() : std::vector<double>{1.0};
    const int64_t centre = s.filter ? 31 : 0;
    std::vector<double> all(static_cast<size_t>(heard_quiet_frames + heard_capture_frames));
    for (size_t i = 0; i < all.size(); i++) {
        const double t = static_cast<double>(i) / fs;
        all[i] = s.dc + s.hum * std::sin(2.0 * std::numbers::pi * 50.0 * t) + gauss(random);
    }
    for (size_t n = 0; n < h.size(); n++) {
        const int64_t at = heard_quiet_frames + s.delay - centre + static_cast<int64_t>(n);
        all[static_cast<size_t>(at)] += s.click * h[n];
    }
    if (s.quiet_glitch != 0.0)
        all[1000] += s.quiet_glitch;
    quiet.assign(all.begin(), all.begin() + heard_quiet_frames);
    capture.assign(all.begin() + heard_quiet_frames, all.end());
}

// The filter's first tap above 1 % (-40 dB) of its largest, relative to its main tap.
int64_t filter_onset()
{
    const std::vector<double> h = converter_taps();
    double most = 0.0;
    for (const double x : h)
        most = std::max(most, std::fabs(x));
    for (size_t n = 0; n < h.size(); n++)
        if (std::fabs(h[n]) > 0.01 * most)
            return static_cast<int64_t>(n) - 31;
    return 0;
}

}  // namespace first_heard_scenes

TEST(FirstHeard, TheFirstFrameThatHoldsTheClick)
{
    using namespace first_heard_scenes;
    const int64_t early = filter_onset();
    ASSERT_LT(early, -3);  // the filter rings ahead of its main tap by more than a few frames
    const scene scenes[] = {
        {"a pure delay in digital silence", 300, 0.25, -300, 0, 0, false, 0, 300},
        {"a delay of 0", 0, 0.25, -300, 0, 0, false, 0, 0},
        {"the last frame captured", heard_capture_frames - 1, 0.25, -300, 0, 0, false, 0, heard_capture_frames - 1},
        {"noise at -140 dBFS", 556, 0.25, -140, 0, 0, false, 0, 556},
        {"noise at -60 dBFS", 556, 0.25, -60, 0, 0, false, 0, 556},
        {"a click 34 dB over -60 dBFS noise", 556, 0.05, -60, 0, 0, false, 0, 556},
        {"DC of 0.1 under it", 412, 0.25, -120, 0.1, 0, false, 0, 412},
        {"hum at -40 dBFS and DC", 412, 0.25, -100, -0.02, 0.01, false, 0, 412},
        {"hum within 12 dB of the click: refused, not misread", 412, 0.25, -100, 0.0, 0.1, false, 0, -1},
        {"a converter's filter in silence", 700, 0.25, -300, 0, 0, true, 0, 700 + early},
        {"a converter's filter, noise at -100 dBFS", 700, 0.25, -100, 0, 0, true, 0, 700 + early},
        {"the click under the noise", 300, 0.001, -60, 0, 0, false, 0, -1},
        {"a glitch in the quiet above the click", 300, 0.25, -300, 0, 0, false, 0.1, -1},
        {"a smaller glitch in the quiet", 300, 0.25, -300, 0, 0, false, 0.02, 300},
    };
    for (const scene& s : scenes) {
        SCOPED_TRACE(s.what);
        std::vector<float> quiet, capture;
        render(s, quiet, capture);
        const first_heard h = first_heard_find(quiet, capture);
        if (s.expected < 0) {
            EXPECT_EQ(h.error, "not heard above the noise");
            EXPECT_EQ(h.frame, -1);
            continue;
        }
        ASSERT_EQ(h.error, "");
        EXPECT_EQ(h.frame, s.expected);
        EXPECT_GT(h.peak, 0.9 * s.click * (s.filter ? 0.9 : 1.0));
    }
}

TEST(FirstHeard, NothingCapturedAndNoQuiet)
{
    const std::vector<float> none, click(100, 0.0f);
    EXPECT_EQ(first_heard_find(none, none).error, "nothing captured");
    std::vector<float> capture = click;
    capture[37] = -0.5f;  // either sign is sound
    const first_heard h = first_heard_find(none, capture);
    EXPECT_EQ(h.error, "");
    EXPECT_EQ(h.frame, 37);
    EXPECT_EQ(first_heard_find(none, click).error, "not heard above the noise");  // digital silence throughout
}
