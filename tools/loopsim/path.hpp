// The simulated interface path of loopsim: what a converter pair does to a
// signal between an output and an input. One linear part, built once:
//
//   integer delay -> fractional delay (windowed sinc) -> anti-aliasing low-pass
//   (linear-phase windowed sinc) -> gain and polarity -> DC-blocking high-pass
//   (first order) -> equaliser section (RBJ peaking or shelving biquad)
//   + up to four echoes: plain copies of the input, delayed by the whole delay
//     + an offset, at a level relative to the gain (and with its polarity)
//
// followed by two disturbances that are not part of the "truth": noise (white,
// or pink: see noise.hpp) added at a fixed RMS level, and dropouts (the output forced to zero for a
// while, at regular intervals and once). The filters are designed for the
// given sample rate. All arithmetic in double; one sample in, one out.
#pragma once
#include <complex>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/loopsim/noise.hpp"

namespace loopsim {

enum class noise_colour { white, pink };

enum class eq_kind { none, peak, low_shelf, high_shelf };

struct echo_options {
    int64_t offset = 0;  // frames after the whole delay; negative: before it
    double db = 0.0;     // level relative to the main path's gain
};
constexpr size_t max_echoes = 4;

struct path_options {
    double rate = 48000.0;       // the sample rate the filters are designed for
    int64_t delay = 0;           // whole frames, a plain ring offset
    double fraction = 0.0;       // 0 <= fraction < 1 frames, by a windowed-sinc FIR
    int64_t fraction_taps = 32;  // even
    double gain = 1.0;
    bool invert = false;
    double aa_cutoff_hz = 0.0;  // 0: no anti-aliasing filter; else its -6 dB point
    int64_t aa_taps = 127;      // odd
    double highpass_hz = 0.0;   // 0: no DC blocker
    eq_kind eq = eq_kind::none;
    double eq_hz = 1000.0, eq_q = 0.7071, eq_db = 0.0;
    double noise_dbfs = -400.0;  // RMS of the added noise, dB re 1.0, the whole band; <= -300 off
    noise_colour colour = noise_colour::white;
    uint64_t noise_seed = 0x9E3779B97F4A7C15ull;  // another for each channel: uncorrelated noise
    double dropout_ms = 0.0;                      // length of each dropout; 0: none
    double dropout_every_s = 1.0;                 // period of the dropouts, counted from the first non-zero input
    double dropout_once_s = 0.0;                  // a single dropout this long after the first non-zero input ...
    double dropout_once_ms = 0.0;                 // ... and this long; 0: none
    std::vector<echo_options> echoes;
};

// Second-order section y = b0 x + b1 x1 + b2 x2 - a1 y1 - a2 y2 (a0 = 1).
struct biquad {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
};

struct path {
    std::vector<double> fir;   // fractional delay * AA low-pass * gain * polarity
    std::vector<double> ring;  // input history, a power of two long
    uint64_t ring_mask = 0;
    uint64_t write_pos = 0;
    int64_t delay = 0;
    biquad highpass, eq;
    bool use_highpass = false, use_eq = false;
    int64_t echo_count = 0;
    int64_t echo_delay[max_echoes] = {};  // whole delay + offset
    double echo_gain[max_echoes] = {};    // signed: the main path's polarity
    double noise_amplitude = 0.0;         // half-width of the uniform (white) noise
    uint64_t noise_state = 0x9E3779B97F4A7C15ull;
    bool pink = false;  // the uniform noise through pink_filter, which sets its level
    pink_filter pink_noise;
    int64_t dropout_length = 0, dropout_period = 0, frame = 0;  // frames since the first sound
    int64_t dropout_once_start = 0, dropout_once_end = 0;
    bool sounding = false;
};

// Checks the options; an empty text means they are usable.
std::string path_check(const path_options& options);

// Builds the path, allocating everything it will ever need.
path path_build(const path_options& options);

// One sample through the path. Real-time safe: indexes preallocated memory only.
// The same as path_linear, plus path_noise, then zero where path_dropped says,
// on a clock that starts with the first non-zero x.
double path_process(path& p, double x);

// One sample through the linear part alone (the truth the prints describe).
double path_linear(path& p, double x);

// The next sample of the path's noise (0 without noise).
double path_noise(path& p);

// Whether the dropouts zero the frame this many frames after the first sound.
bool path_dropped(const path& p, int64_t frame);

// The linear part's first n taps of impulse response, by running the same
// per-sample code on a unit impulse (noise and dropouts off).
std::vector<double> path_impulse_response(const path_options& options, int64_t n);

// |H| in dB at bins 0 .. 1023 of rate / 2048 Hz: the frequency response of the
// linear part (what a periodic stimulus of period 2048 sees in steady state),
// from the FIR's transform and the sections' transfer functions.
std::vector<double> path_response_db(const path_options& options);

// |DFT| in dB at bins 0 .. 1023 of the first n (<= 2048) taps of the impulse
// response, zero-padded to 2048: what a 2048-tap model of the path can hold
// when the loop adds 2048 - n frames of its own.
std::vector<double> path_truncated_response_db(const path_options& options, int64_t n);

// The linear part's transfer function at HZ, whole delay and echoes included.
std::complex<double> path_response_at(const path_options& options, double hz);

// The linear part's group delay at HZ in frames, whole delay included: minus
// the derivative of the phase of its transfer function, computed exactly.
double path_group_delay(const path_options& options, double hz);

}  // namespace loopsim
