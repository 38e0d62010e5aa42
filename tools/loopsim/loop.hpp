// loopsim's whole interface: one or two channels, each a path (path.hpp), and
// what happens between them and after them. For every frame and channel c:
//
//   linear_c = the path's linear part (delay, filters, gain, EQ, echoes)
//   y_c      = poly(linear_c)                         the static nonlinearity
//            + crosstalk(linear_other)                from the other channel
//            + hum + the path's noise
//   then the stream stage (stream.hpp: playback-side drops, inserts, zeros,
//   the --ppm clock and its wander, capture-side drops, inserts, zeros),
//   then channel 2's own clock (skew.hpp, --ppm2),
//   then the dropouts, on every channel at once, then the DC offset.
//
// One clock for the planned events of every channel: frames since the first
// non-zero input on any channel.
#pragma once
#include <complex>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/loopsim/distortion.hpp"
#include "tools/loopsim/glitch.hpp"
#include "tools/loopsim/path.hpp"
#include "tools/loopsim/skew.hpp"
#include "tools/loopsim/stream.hpp"

namespace loopsim {

// flat: a gain; capacitive: a first difference, rising 6 dB an octave;
// cubic: g x^3 of the other channel's linear output, a crosstalk that grows
// with the level (a shared supply's or ground's current): a sine of peak A
// leaks 3/4 g A^3 at its own frequency (and 1/4 g A^3 at its third harmonic),
// g = 4/3 x 10^(DB/20), so that a full-scale sine leaks DB re itself and
// one L dB lower DB - 2 L dB.
enum class crosstalk_shape { flat, capacitive, cubic };

constexpr int64_t hum_max_harmonics = 20;

struct loop_options {
    path_options path;  // channel 1; channel 2 the same but for the two below
    int64_t channels = 1;
    double gain2_db = 0.0;  // channel 2's gain re channel 1's
    int64_t delay2 = 0;     // channel 2's whole delay re channel 1's (may be negative)
    // The crosstalk, both ways: at crosstalk_db re the other channel's linear
    // output, flat, or capacitive: a first difference, rising 6 dB an octave,
    // crosstalk_db at 1 kHz, or cubic: crosstalk_db for a full-scale sine.
    // <= -300: none.
    double crosstalk_db = -400.0;
    crosstalk_shape shape = crosstalk_shape::flat;
    std::vector<double> poly;  // a2, a3, ... a10
    // Hum: the fundamental at hum_hz, a sine of peak 10^(hum_dbfs / 20) (a
    // full-scale sine is 0 dBFS); harmonic k = 2 .. hum_harmonics at 1 / k of
    // it (-20 log10 k dB); all starting at phase 0 on the client's first frame.
    double hum_hz = 0.0;  // 0: none
    double hum_dbfs = -400.0;
    int64_t hum_harmonics = 1;
    double ppm = 0.0;
    double ppm2 = 0.0;  // channel 2's clock re channel 1's (skew.hpp); 0: the same clock
    // The clock's wander (stream.hpp): an Ornstein-Uhlenbeck process of rms
    // wander_rms ppm and correlation time wander_tau s added to ppm; 0: none.
    double wander_rms = 0.0;
    double wander_tau = 1.0;
    uint64_t wander_seed = 1;
    double clock_log_s = 0.0;            // a clock record every this many seconds of output; 0: none
    std::vector<glitch> glitches;        // at seconds converted to frames by loop_build; each of its side
    std::vector<double> glitch_seconds;  // when each of glitches happens, from the first sound
    double glitch_per_minute = 0.0;      // random capture-side glitches
    uint64_t glitch_seed = 0;
    double playback_glitch_per_minute = 0.0;  // random playback-side glitches
    uint64_t playback_glitch_seed = 0;
    // An interface that cannot keep up while the server's period is below this
    // many frames (struggle.hpp): capture-side inserts and drops of a period; 0: never.
    int64_t struggle_below = 0;
    double dc = 0.0;                     // added to every output channel after everything else
    int64_t headroom = stream_headroom;  // the stream's (stream.hpp); tests of short streams ask for less
    // At seconds from the first sound, on the capture side: the clock's offset
    // stepped to ppm (--rate-step), the capture's polarity flipped
    // (--polarity-flip), n frames of white noise at dbfs RMS added (--burst).
    struct rate_step {
        double seconds = 0.0, ppm = 0.0;
    };
    struct burst {
        double seconds = 0.0;
        int64_t n = 0;
        double dbfs = 0.0;
    };
    std::vector<rate_step> rate_steps;
    std::vector<double> polarity_flips;
    std::vector<burst> bursts;
};

std::string loop_check(const loop_options& o);

// The part of loop_check that does not depend on the rate (the clock, its
// wander and log, the DC, the glitches' sizes and times, --struggle-below): the client checks it
// before it looks for a server.
std::string loop_check_stream(const loop_options& o);

// Whether the stream stage runs (a clock, a wander, glitches, a struggle or clock records).
bool loop_streams(const loop_options& o);

// The path options of channel 1 or 2.
path_options loop_channel(const loop_options& o, int64_t channel);

// The frames of the whole delay the stream stage takes over (0 without it):
// all of it, less what the earliest echo needs.
int64_t loop_reserve(const loop_options& o);

struct loop {
    int64_t channels = 1;
    path paths[stream_max_channels];
    double linear_before[stream_max_channels] = {};  // last frame's linear outputs
    poly distortion;
    bool distorted = false;
    double crosstalk_gain = 0.0;  // flat: the gain; capacitive: the first difference's
    crosstalk_shape shape = crosstalk_shape::flat;
    double hum_amplitude[hum_max_harmonics] = {};
    int64_t hum_harmonics = 0;
    double hum_hz = 0.0, rate = 48000.0;
    int64_t frame = 0;   // frames since the client started
    int64_t since = -1;  // frames since the first sound, -1 before it
    stream tail;
    skew second;  // channel 2's own clock
    bool dropouts = false;
    double dc = 0.0;
};

loop loop_build(const loop_options& o);

// The server's period (frames) for the frames that follow: the process
// callback tells it before each period's frames, for --struggle-below; nothing
// else in the loop depends on it. Real-time safe.
void loop_period(loop& l, int64_t frames);

// One frame: x and y hold one sample per channel. Real-time safe.
void loop_process(loop& l, const double* x, double* y, glitch_queue& q);

// The crosstalk's transfer function at hz: what arrives in one channel over the
// other channel's linear output (cubic: for a full-scale sine; for a sine L dB
// lower, 2 L dB less).
std::complex<double> loop_crosstalk_at(const loop_options& o, double hz);

}  // namespace loopsim
