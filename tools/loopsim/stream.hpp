// loopsim's streams as an interface's converters see them: the played stream
// broken by playback-side glitches, read through the capture side's own clock
// (--ppm, and its wander), then broken by capture-side glitches (drop, insert,
// zero), every channel at once.
//
// Two rings. The stage's input (the path's output, with the part of the whole
// --delay the path hands over: the reserve) goes into the raw ring, a frame a
// frame. A writer copies it into the converter ring in order, converter frame
// u taking raw frame u + shift: a playback-side drop of n adds n to the shift
// (the writer waits n frames for the frames it now needs), an insert takes n
// off (it writes the n frames again at once), a zero writes n zeros in place
// of the frames it would have taken. The reader reads the converter ring at a
// position that advances by 1 / (1 + offset) a frame, from the first non-zero
// input on; a capture-side drop moves it on by n of its own frames (n / (1 +
// offset) converter frames), an insert back by as many, a zero blanks n output
// frames. Its lag behind the newest converter frame starts as the reserve plus
// the resampler's half length; every drop shortens it, every insert
// lengthens it, and a clock slides it.
//
// The clock: from the first non-zero input on, output frame m (counted from
// there) reads the converter's stream at position (m / (1 + ppm 1e-6)) - lag,
// so that an input frame n arrives at output frame (1 + ppm 1e-6) (n + lag): a
// positive ppm is an input side (what the program records) running fast, its
// loop delay growing by ppm 1e-6 frames every frame played. With a wander the
// offset of frame k is ppm + x_k (ppm), x an Ornstein-Uhlenbeck process of the
// given rms and correlation time, stepped every frame by its exact
// discretisation, started from its stationary law: the position advances by
// 1 / (1 + (ppm + x_k) 1e-6) from frame k to k + 1, and the mean offset stays
// ppm. Between frames a 128-tap Kaiser-windowed sinc (cut-off 0.45 of the
// rate, beta 12), tabulated at 4096 phases and interpolated linearly between
// them; it delays by 64 frames and is flat to within 1e-4 dB to 20 kHz at 48
// kHz (0.42 of the rate), -6 dB at 0.45 of it. Without --ppm and --wander the
// stage reads whole frames and adds no delay and no filter.
#pragma once
#include <complex>
#include <cstdint>
#include <vector>

#include "tools/loopsim/glitch.hpp"
#include "tools/loopsim/struggle.hpp"

namespace loopsim {

constexpr int64_t stream_max_channels = 2;
constexpr int64_t stream_half = 64;           // the resampler's half length, its delay in frames
constexpr int64_t stream_phases = 4096;       // rows of the tabulated kernel
constexpr int64_t stream_headroom = 1 << 18;  // frames of lag the inserts and a fast clock may add

// The clock's wander: x_{k+1} = a x_k + sqrt(1 - a^2) rms n_k, a = exp(-1 /
// (tau rate)), n_k standard normal (Marsaglia's polar method on a xorshift
// generator seeded by splitmix64), x_0 = rms n_0. In ppm. Real-time safe.
struct wander {
    double a = 1.0, b = 0.0;  // b = sqrt(1 - a^2) rms
    double x = 0.0;           // this frame's wander, ppm
    uint64_t state = 1;
    double spare = 0.0;
    bool has_spare = false;
};

wander wander_make(double rms, double tau, uint64_t seed, double rate);

// Steps to the next frame; returns its x.
double wander_next(wander& w);

// A step of the capture side's clock to ppm (the wander goes on about it),
// and a burst of white noise of rms (linear) over n output frames; each at an
// output frame from the first sound, as a capture glitch.
struct stream_rate_step {
    int64_t at = 0;
    double ppm = 0.0;
};
struct stream_burst {
    int64_t at = 0, n = 0;
    double rms = 0.0;
};

struct stream_options {
    double rate = 48000.0;
    int64_t channels = 1;
    double ppm = 0.0;
    double wander_rms = 0.0;  // ppm; 0: none
    double wander_tau = 1.0;  // seconds
    uint64_t wander_seed = 1;
    int64_t clock_every = 0;         // a clock record every this many output frames from the first sound; 0: none
    int64_t reserve = 0;             // frames of the whole delay the path leaves to this stage
    int64_t upstream_delay = 0;      // the rest, which the path keeps (for the records' input frame)
    std::vector<glitch> planned;     // both sides, sorted by time
    double random_per_minute = 0.0;  // capture side
    uint64_t random_seed = 0;
    double playback_random_per_minute = 0.0;
    uint64_t playback_random_seed = 0;
    int64_t struggle_below = 0;                // --struggle-below (struggle.hpp); 0: never
    std::vector<stream_rate_step> rate_steps;  // by time
    std::vector<int64_t> polarity_flips;       // output frames from the first sound, by time
    std::vector<stream_burst> bursts;          // by time
    // Frames of lag the inserts and a fast clock may add: the ring is zeroed
    // (its pages touched) when built, never in the callback, so a test that
    // builds many short streams asks for less.
    int64_t headroom = stream_headroom;
};

// A playback-side glitch done by the writer and not yet reached by the reader:
// its record waits for its out.
struct stream_pending {
    double at = 0.0;  // the converter frame where it acts
    glitch_record record;
};

struct stream {
    bool active = false;  // false: the loop passes its frames straight through
    int64_t channels = 1;
    double rate = 48000.0;
    std::vector<double> raw[stream_max_channels];   // the stage's input, by arrival
    std::vector<double> conv[stream_max_channels];  // the converter's stream
    std::vector<int64_t> source;                    // the raw frame each converter frame took (or was to take)
    uint64_t mask = 0;
    int64_t written = 0;    // raw frames written: the index of the next one
    int64_t converted = 0;  // converter frames written: the index of the next one
    int64_t shift = 0;      // converter frame u takes raw frame u + shift
    int64_t playback_zero_left = 0;
    int64_t first = -1;              // the raw frame of the first sound, -1 before it
    const double* kernel = nullptr;  // (stream_phases + 1) rows of 2 stream_half taps, made once; null: whole frames
    int64_t half = 0;                // stream_half when resampling, else 0
    double anchor_q = 0.0;           // read position at frame anchor_j; then step a frame, plus the wander
    int64_t anchor_j = 0;
    double anchor_drift = 0.0;
    double step = 1.0;
    double clocked_step = 1.0;  // 1 / (1 + ppm 1e-6), from the first sound on
    double ppm = 0.0;
    bool wandering = false;
    wander clock_wander;
    double drift = 0.0;  // the sum over the frames so far of each one's step less `step`
    int64_t clock_every = 0;
    int64_t min_lag = 0, max_lag = 0;
    int64_t upstream_delay = 0;
    int64_t zero_left = 0;
    std::vector<glitch> planned;  // capture side
    size_t next_planned = 0;
    std::vector<glitch> planned_playback;  // playback side
    size_t next_playback = 0;
    glitch_random random, random_playback;
    struggle struggling;                  // its capture glitches, planned on the fly from the server's period
    std::vector<stream_pending> pending;  // a ring of the playback records not yet reached
    uint64_t pending_head = 0, pending_tail = 0;
    std::vector<stream_rate_step> rate_steps;
    size_t next_step = 0;
    std::vector<int64_t> flips;
    size_t next_flip = 0;
    double sign = 1.0;  // the capture's polarity now
    std::vector<stream_burst> bursts;
    size_t next_burst = 0;
    int64_t burst_left = 0;
    double burst_scale = 0.0;  // sqrt(3) rms: uniform noise of that rms
    uint64_t burst_state = 0x9e3779b97f4a7c15ull;
};

stream stream_build(const stream_options& o);

// One frame: y holds the channels' samples in, out receives them. since: frames
// since the first non-zero input, -1 before it. Each glitch goes to q as it
// happens (a playback-side one when the reader reaches it); a lag pushed past
// its bounds (a slow clock that has used up the reserve, a fast one the
// headroom) holds there and counts in q.clamped. Real-time safe.
void stream_process(stream& s, const double* y, double* out, int64_t since, glitch_queue& q);

// The read position of frame j in the converter's stream (fractional with a
// clock); j the frame being processed.
double stream_position(const stream& s, int64_t j);

// The resampler's kernel at x frames from its centre (before its rows are
// scaled to sum to 1): for checking the stage against a direct sum.
double stream_kernel_at(double x);

// A ring of frames (mask + 1 of them, a power of two) read at position q
// through the stage's resampler: the 128-tap kernel centred on q, frames q -
// 63 .. q + 64 about it. For another stage's own clock (skew.hpp). Real-time safe.
double stream_resample(const double* ring, uint64_t mask, double q);

// The printed truths through the resampler, which runs with a clock (--ppm,
// --wander, --rate-step): at its phase 0 a symmetric filter of 127 taps,
// stream_half frames of delay. Its response at hz (the delay included), and
// h (an impulse response from frame 0) through it, as long as h.
std::complex<double> stream_resampler_at(double hz, double rate);
std::vector<double> stream_resampled(const std::vector<double>& h);

}  // namespace loopsim
