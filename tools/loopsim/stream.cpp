#include "tools/loopsim/stream.hpp"

#include <algorithm>
#include <cmath>

namespace loopsim {

namespace {

uint64_t next_bits(uint64_t& state)
{
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

constexpr double kernel_cutoff = 0.45;  // cycles a frame
constexpr double kernel_beta = 12.0;

// Modified Bessel function of the first kind, order 0, by its series.
double bessel_i0(double x)
{
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 60 && term > 1e-20 * sum; k++) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

// The kernel at x frames from its centre.
double kernel_at(double x)
{
    const double r = x / stream_half;
    if (std::fabs(r) >= 1.0)
        return 0.0;
    const double band = 2.0 * kernel_cutoff;
    const double t = band * x;
    const double sinc = t == 0.0 ? 1.0 : std::sin(M_PI * t) / (M_PI * t);
    return band * sinc * bessel_i0(kernel_beta * std::sqrt(1.0 - r * r)) / bessel_i0(kernel_beta);
}

// Row m holds the taps for a position m / stream_phases past a whole frame i:
// tap t (0 .. 2 half - 1) weighs frame i - half + 1 + t. Each row sums to 1,
// so that DC passes at exactly unit gain at every phase.
std::vector<double> kernel_table()
{
    const int64_t taps = 2 * stream_half;
    std::vector<double> table(static_cast<size_t>((stream_phases + 1) * taps));
    for (int64_t m = 0; m <= stream_phases; m++) {
        const double f = static_cast<double>(m) / stream_phases;
        double* row = &table[static_cast<size_t>(m * taps)];
        double sum = 0.0;
        for (int64_t t = 0; t < taps; t++)
            sum += row[t] = kernel_at(static_cast<double>(t - stream_half + 1) - f);
        for (int64_t t = 0; t < taps; t++)
            row[t] /= sum;
    }
    return table;
}

double dot(const double* ring, uint64_t mask, int64_t first, const double* row, int64_t taps)
{
    double sum = 0.0;
    for (int64_t t = 0; t < taps; t++)
        sum += ring[static_cast<uint64_t>(first + t) & mask] * row[t];
    return sum;
}

// The ring read at q through the kernel (whole frames without one).
double read_ring(const double* kernel, uint64_t mask, const double* ring, double q)
{
    const double whole = std::floor(q);
    const int64_t i = static_cast<int64_t>(whole);
    if (!kernel)
        return ring[static_cast<uint64_t>(i) & mask];
    const double phase = (q - whole) * stream_phases;
    const double row = std::floor(phase);
    const double between = phase - row;
    const int64_t taps = 2 * stream_half;
    const double* lower = &kernel[static_cast<size_t>(static_cast<int64_t>(row) * taps)];
    const double a = dot(ring, mask, i - stream_half + 1, lower, taps);
    if (between == 0.0)
        return a;
    const double b = dot(ring, mask, i - stream_half + 1, lower + taps, taps);
    return a + between * (b - a);
}

double read(const stream& s, int64_t channel, double q)
{
    return read_ring(s.kernel, s.mask, s.conv[channel].data(), q);
}

// The kernel's table, the same for every stage: made once.
const double* shared_kernel()
{
    static const std::vector<double> table = kernel_table();
    return table.data();
}

// Sets the read position of frame j to q; the frames after step from there.
void rebase(stream& s, int64_t j, double q)
{
    s.anchor_q = q;
    s.anchor_j = j;
    s.anchor_drift = s.drift;
}

// The step from this frame to the next: 1 / (1 + offset).
double frame_step(const stream& s) { return s.wandering ? 1.0 / (1.0 + (s.ppm + s.clock_wander.x) * 1e-6) : s.step; }

// The converter frame that raw frame `written - 1` (the newest) is or will be.
int64_t newest_converted(const stream& s) { return s.written - 1 - s.shift; }

// The played frame (counted from the first sound) that converter frame u takes.
int64_t played(const stream& s, int64_t u)
{
    return s.source[static_cast<uint64_t>(u) & s.mask] - s.first - s.upstream_delay;
}

// The frames a drop (sign +1) or an insert (-1) of n on a side can move the
// reader's lag now: a capture slip moves the read position by n of its own
// frames, a playback slip the newest converter frame by n.
int64_t room(const stream& s, double position, glitch_side side, int sign, int64_t n)
{
    const double free = sign > 0 ? static_cast<double>(newest_converted(s) - s.min_lag) - position
                                 : position - static_cast<double>(s.converted - 1 - s.max_lag);
    const double per = side == glitch_side::capture ? frame_step(s) : 1.0;
    return std::clamp<int64_t>(static_cast<int64_t>(std::floor(free / per)), 0, n);
}

// A random drop the reserve cannot hold turns into an insert, and the other way.
void adapt(const stream& s, double position, glitch& g)
{
    if (g.kind != glitch_kind::zero && room(s, position, g.side, g.kind == glitch_kind::drop ? 1 : -1, g.n) < g.n)
        g.kind = g.kind == glitch_kind::drop ? glitch_kind::insert : glitch_kind::drop;
}

// Performs the capture-side g at frame j (since frames after the first sound)
// and records it; returns the frames it moved (n, or less when cut short).
int64_t apply_capture(stream& s, glitch g, bool random, int64_t j, int64_t since, glitch_queue& q)
{
    const double position = stream_position(s, j);
    if (random)
        adapt(s, position, g);
    if (g.kind == glitch_kind::zero)
        s.zero_left = std::max(s.zero_left, g.n);
    else {
        const int sign = g.kind == glitch_kind::drop ? 1 : -1;
        g.n = room(s, position, glitch_side::capture, sign, g.n);
        rebase(s, j, position + sign * static_cast<double>(g.n) * frame_step(s));
    }
    glitch_record r;
    r.kind = g.kind, r.n = g.n, r.out = since, r.side = glitch_side::capture;
    r.in = played(s, std::llrint(position));
    glitch_queue_push(q, r);
    return g.n;
}

// Performs the playback-side g at the writer's converter frame (frame j
// being processed); its record waits for the reader.
void apply_playback(stream& s, glitch g, bool random, int64_t j, glitch_queue& q)
{
    const double position = stream_position(s, j);
    const int64_t u = s.converted;
    if (random)
        adapt(s, position, g);
    glitch_record r;
    r.in = u + s.shift - s.first - s.upstream_delay;
    if (g.kind == glitch_kind::zero)
        s.playback_zero_left = std::max(s.playback_zero_left, g.n);
    else {
        const int sign = g.kind == glitch_kind::drop ? 1 : -1;
        g.n = room(s, position, glitch_side::playback, sign, g.n);
        s.shift += sign * g.n;
    }
    r.kind = g.kind, r.n = g.n, r.side = glitch_side::playback;
    if (s.pending_head - s.pending_tail >= s.pending.size()) {
        q.lost.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    s.pending[s.pending_head++ % s.pending.size()] = {static_cast<double>(u), r};
}

// The writer: converter frames from the raw ring, in order, as far as the raw
// frames they take have arrived; the playback glitches as it reaches them.
void convert(stream& s, int64_t j, glitch_queue& q)
{
    for (;;) {
        const int64_t u = s.converted;
        if (s.first >= 0) {
            const int64_t base = s.first + s.upstream_delay;  // converter frame 0: the first sound's
            for (; s.next_playback < s.planned_playback.size() && base + s.planned_playback[s.next_playback].at <= u;
                 s.next_playback++)
                apply_playback(s, s.planned_playback[s.next_playback], false, j, q);
            while (s.random_playback.next_at >= 0 && base + s.random_playback.next_at <= u)
                apply_playback(s, glitch_random_next(s.random_playback, s.rate), true, j, q);
        }
        const int64_t from = u + s.shift;
        if (from > j)
            return;
        const uint64_t slot = static_cast<uint64_t>(u) & s.mask;
        for (int64_t c = 0; c < s.channels; c++)
            s.conv[c][slot] = s.playback_zero_left > 0 ? 0.0 : s.raw[c][static_cast<uint64_t>(from) & s.mask];
        s.source[slot] = from;
        if (s.playback_zero_left > 0)
            s.playback_zero_left--;
        s.converted++;
    }
}

// The read position of frame j, its lag held within its bounds: never past
// the newest converter frame the kernel needs, never behind the oldest the
// ring keeps. A lag held there counts in q.clamped.
double hold(stream& s, int64_t j, glitch_queue& q)
{
    double position = stream_position(s, j);
    const double newest = static_cast<double>(newest_converted(s) - s.min_lag);
    const double oldest = static_cast<double>(s.converted - 1 - s.max_lag);
    if (position > newest || position < oldest) {
        position = std::clamp(position, oldest, newest);
        rebase(s, j, position);
        q.clamped.fetch_add(1, std::memory_order_relaxed);
    }
    return position;
}

}  // namespace

double stream_kernel_at(double x) { return kernel_at(x); }

double stream_resample(const double* ring, uint64_t mask, double q)
{
    return read_ring(shared_kernel(), mask, ring, q);
}

namespace {

// Row 0 of the table: the taps at x = 1 - half .. half frames from the read position, summing to 1.
std::vector<double> kernel_row0()
{
    std::vector<double> k(static_cast<size_t>(2 * stream_half));
    double sum = 0.0;
    for (int64_t t = 0; t < 2 * stream_half; t++)
        sum += k[static_cast<size_t>(t)] = kernel_at(static_cast<double>(t - stream_half + 1));
    for (double& v : k)
        v /= sum;
    return k;
}

}  // namespace

std::complex<double> stream_resampler_at(double hz, double rate)
{
    // out(m) = sum_x k(x) in(m - half + x): tap x delays by half - x frames.
    const std::vector<double> k = kernel_row0();
    std::complex<double> sum = 0.0;
    for (int64_t t = 0; t < 2 * stream_half; t++) {
        const double delay = static_cast<double>(stream_half - (t - stream_half + 1));
        sum += k[static_cast<size_t>(t)] * std::polar(1.0, -2.0 * M_PI * hz * delay / rate);
    }
    return sum;
}

std::vector<double> stream_resampled(const std::vector<double>& h)
{
    const std::vector<double> k = kernel_row0();
    const int64_t n = static_cast<int64_t>(h.size());
    std::vector<double> out(h.size(), 0.0);
    for (int64_t m = 0; m < n; m++)
        for (int64_t t = 0; t < 2 * stream_half; t++) {
            const int64_t i = m - stream_half + (t - stream_half + 1);
            if (i >= 0 && i < n)
                out[static_cast<size_t>(m)] += k[static_cast<size_t>(t)] * h[static_cast<size_t>(i)];
        }
    return out;
}

wander wander_make(double rms, double tau, uint64_t seed, double rate)
{
    wander w;
    // splitmix64 of the seed: any seed, 0 included, gives a non-zero xorshift state.
    uint64_t z = seed + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    w.state = (z ^ (z >> 31)) | 1;
    if (!(rms > 0.0))
        return w;
    // x_0 from the stationary law: one step with a = 0.
    w.a = 0.0, w.b = rms;
    wander_next(w);
    const double frames = tau * rate;
    w.a = std::exp(-1.0 / frames);
    w.b = rms * std::sqrt(-std::expm1(-2.0 / frames));  // 1 - a^2, exact where a is near 1
    return w;
}

double wander_next(wander& w)
{
    double n;
    if (w.has_spare) {
        n = w.spare;
        w.has_spare = false;
    } else {
        // Marsaglia's polar method: a point in the unit disc, two normals from it.
        double u, v, r;
        do {
            u = 2.0 * (static_cast<double>(next_bits(w.state) >> 11) / 9007199254740992.0) - 1.0;
            v = 2.0 * (static_cast<double>(next_bits(w.state) >> 11) / 9007199254740992.0) - 1.0;
            r = u * u + v * v;
        } while (r >= 1.0 || r == 0.0);
        const double f = std::sqrt(-2.0 * std::log(r) / r);
        n = u * f;
        w.spare = v * f;
        w.has_spare = true;
    }
    w.x = w.a * w.x + w.b * n;
    return w.x;
}

stream stream_build(const stream_options& o)
{
    stream s;
    s.active = o.ppm != 0.0 || o.wander_rms > 0.0 || !o.planned.empty() || o.random_per_minute > 0.0 ||
               o.playback_random_per_minute > 0.0 || o.clock_every > 0 || o.struggle_below > 0 ||
               !o.rate_steps.empty() || !o.polarity_flips.empty() || !o.bursts.empty();
    if (!s.active)
        return s;
    s.channels = o.channels;
    s.rate = o.rate;
    s.ppm = o.ppm;
    if (o.ppm != 0.0 || o.wander_rms > 0.0 || !o.rate_steps.empty()) {
        s.kernel = shared_kernel();
        s.half = stream_half;
        s.clocked_step = 1.0 / (1.0 + o.ppm * 1e-6);
    }
    if (o.wander_rms > 0.0) {
        s.wandering = true;
        s.clock_wander = wander_make(o.wander_rms, o.wander_tau, o.wander_seed, o.rate);
    }
    s.clock_every = o.clock_every;
    const int64_t lag = o.reserve + s.half;
    uint64_t length = 1;
    while (length < static_cast<uint64_t>(lag + o.headroom + 2 * s.half + 2))
        length *= 2;
    for (int64_t c = 0; c < o.channels; c++) {
        s.raw[c].assign(length, 0.0);
        s.conv[c].assign(length, 0.0);
    }
    // Before any is written, converter frame u (-length .. -1) takes raw frame u.
    s.source.resize(length);
    for (uint64_t i = 0; i < length; i++)
        s.source[i] = static_cast<int64_t>(i) - static_cast<int64_t>(length);
    s.mask = length - 1;
    s.min_lag = s.half;
    s.max_lag = static_cast<int64_t>(length) - 2 * s.half - 2;
    s.anchor_q = -static_cast<double>(lag);
    s.upstream_delay = o.upstream_delay;
    for (const glitch& g : o.planned)
        (g.side == glitch_side::capture ? s.planned : s.planned_playback).push_back(g);
    const auto by_time = [](const glitch& a, const glitch& b) { return a.at < b.at; };
    std::stable_sort(s.planned.begin(), s.planned.end(), by_time);
    std::stable_sort(s.planned_playback.begin(), s.planned_playback.end(), by_time);
    s.random = glitch_random_make(o.random_per_minute, o.random_seed, o.rate, glitch_side::capture);
    s.random_playback =
        glitch_random_make(o.playback_random_per_minute, o.playback_random_seed, o.rate, glitch_side::playback);
    s.pending.resize(s.planned_playback.size() + 1024);
    s.struggling = struggle_make(o.struggle_below, o.rate);
    s.rate_steps = o.rate_steps, s.flips = o.polarity_flips, s.bursts = o.bursts;
    return s;
}

double stream_position(const stream& s, int64_t j)
{
    return s.anchor_q + static_cast<double>(j - s.anchor_j) * s.step + (s.drift - s.anchor_drift);
}

void stream_process(stream& s, const double* y, double* out, int64_t since, glitch_queue& q)
{
    const int64_t j = s.written++;
    for (int64_t c = 0; c < s.channels; c++)
        s.raw[c][static_cast<uint64_t>(j) & s.mask] = y[c];
    if (since == 0) {
        s.first = j;
        rebase(s, j, stream_position(s, j));
        s.step = s.clocked_step;
    }
    // A step of the clock: the position goes on from where it stands at the new rate.
    bool stepped = false;
    for (; since >= 0 && s.next_step < s.rate_steps.size() && s.rate_steps[s.next_step].at <= since; s.next_step++) {
        rebase(s, j, stream_position(s, j));
        s.ppm = s.rate_steps[s.next_step].ppm;
        s.step = s.clocked_step = 1.0 / (1.0 + s.ppm * 1e-6);
        stepped = true;
    }
    convert(s, j, q);
    hold(s, j, q);
    for (; since >= 0 && s.next_planned < s.planned.size() && s.planned[s.next_planned].at <= since; s.next_planned++)
        apply_capture(s, s.planned[s.next_planned], false, j, since, q);
    while (since >= 0 && s.random.next_at >= 0 && s.random.next_at <= since)
        apply_capture(s, glitch_random_next(s.random, s.rate), true, j, since, q);
    // The struggling interface's inserts and drops, done as planned ones are.
    for (glitch g; since >= 0 && struggle_due(s.struggling, since, g);)
        struggle_done(s.struggling, g, apply_capture(s, g, false, j, since, q));
    const double position = hold(s, j, q);
    // The playback glitches the reader has reached: their out is this frame.
    while (s.pending_tail != s.pending_head && position >= s.pending[s.pending_tail % s.pending.size()].at) {
        glitch_record r = s.pending[s.pending_tail++ % s.pending.size()].record;
        r.out = since;
        glitch_queue_push(q, r);
    }
    const double whole = std::floor(position);
    const double in = static_cast<double>(played(s, static_cast<int64_t>(whole))) + (position - whole);
    // The clock's truth every clock_every frames, and at each step of its rate.
    if (since >= 0 && (stepped || (s.clock_every > 0 && since % s.clock_every == 0))) {
        clock_record r;
        r.out = since;
        r.in = in;
        r.ppm = s.ppm + (s.wandering ? s.clock_wander.x : 0.0);
        clock_queue_push(q, r);
    }
    for (; since >= 0 && s.next_flip < s.flips.size() && s.flips[s.next_flip] <= since; s.next_flip++) {
        s.sign = -s.sign;
        glitch_queue_push(
            q, {glitch_kind::polarity, 0, since, static_cast<int64_t>(std::floor(in)), glitch_side::capture});
    }
    for (; since >= 0 && s.next_burst < s.bursts.size() && s.bursts[s.next_burst].at <= since; s.next_burst++) {
        const stream_burst& b = s.bursts[s.next_burst];
        s.burst_left = std::max(s.burst_left, b.n);
        s.burst_scale = std::sqrt(3.0) * b.rms;
        glitch_queue_push(q,
                          {glitch_kind::burst, b.n, since, static_cast<int64_t>(std::floor(in)), glitch_side::capture});
    }
    if (s.zero_left > 0) {
        s.zero_left--;
        for (int64_t c = 0; c < s.channels; c++)
            out[c] = 0.0;
    } else
        for (int64_t c = 0; c < s.channels; c++)
            out[c] = s.sign * read(s, c, position);
    if (s.burst_left > 0) {
        s.burst_left--;
        for (int64_t c = 0; c < s.channels; c++) {
            // xorshift64: uniform in [-1, 1), scaled to the burst's rms.
            s.burst_state ^= s.burst_state << 13, s.burst_state ^= s.burst_state >> 7,
                s.burst_state ^= s.burst_state << 17;
            out[c] += s.burst_scale * (static_cast<double>(s.burst_state >> 11) * 0x1.0p-52 - 1.0);
        }
    }
    if (s.wandering && since >= 0) {
        // This frame's step less the mean one: -x 1e-6 / ((1 + ppm 1e-6) (1 + (ppm + x) 1e-6)), without cancellation.
        s.drift -= s.clock_wander.x * 1e-6 * s.step * frame_step(s);
        wander_next(s.clock_wander);
    }
}

}  // namespace loopsim
