#include "tools/loopsim/stream.hpp"

#include <algorithm>
#include <cmath>

namespace loopsim {

namespace {

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

double read(const stream& s, int64_t channel, double q)
{
    const double* ring = s.ring[channel].data();
    const double whole = std::floor(q);
    const int64_t i = static_cast<int64_t>(whole);
    if (s.kernel.empty())
        return ring[static_cast<uint64_t>(i) & s.mask];
    const double phase = (q - whole) * stream_phases;
    const double row = std::floor(phase);
    const double between = phase - row;
    const int64_t taps = 2 * stream_half;
    const double* lower = &s.kernel[static_cast<size_t>(static_cast<int64_t>(row) * taps)];
    const double a = dot(ring, s.mask, i - stream_half + 1, lower, taps);
    if (between == 0.0)
        return a;
    const double b = dot(ring, s.mask, i - stream_half + 1, lower + taps, taps);
    return a + between * (b - a);
}

// Sets the read position of frame j to q; the frames after step from there.
void rebase(stream& s, int64_t j, double q)
{
    s.anchor_q = q;
    s.anchor_j = j;
}

// The frames a drop (sign +1) or an insert (-1) of n can move the lag now.
int64_t room(const stream& s, double lag, int sign, int64_t n)
{
    const double free = sign > 0 ? lag - static_cast<double>(s.min_lag) : static_cast<double>(s.max_lag) - lag;
    return std::clamp<int64_t>(static_cast<int64_t>(std::floor(free)), 0, n);
}

// Performs g at frame j (since frames after the first sound) and records it.
void apply(stream& s, glitch g, bool adapt, int64_t j, int64_t since, glitch_queue& q)
{
    const double position = stream_position(s, j);
    const double lag = static_cast<double>(j) - position;
    // A random drop the reserve cannot hold turns into an insert, and the other way.
    if (adapt && g.kind != glitch_kind::zero && room(s, lag, g.kind == glitch_kind::drop ? 1 : -1, g.n) < g.n)
        g.kind = g.kind == glitch_kind::drop ? glitch_kind::insert : glitch_kind::drop;
    if (g.kind == glitch_kind::zero)
        s.zero_left = std::max(s.zero_left, g.n);
    else {
        const int sign = g.kind == glitch_kind::drop ? 1 : -1;
        g.n = room(s, lag, sign, g.n);
        rebase(s, j, position + sign * static_cast<double>(g.n));
    }
    glitch_record r;
    r.kind = g.kind, r.n = g.n, r.out = since;
    r.in = std::llrint(position) - s.upstream_delay - (j - since);
    glitch_queue_push(q, r);
}

}  // namespace

stream stream_build(const stream_options& o)
{
    stream s;
    s.active = o.ppm != 0.0 || !o.planned.empty() || o.random_per_minute > 0.0;
    if (!s.active)
        return s;
    s.channels = o.channels;
    s.rate = o.rate;
    if (o.ppm != 0.0) {
        s.kernel = kernel_table();
        s.half = stream_half;
        s.clocked_step = 1.0 / (1.0 + o.ppm * 1e-6);
    }
    const int64_t lag = o.reserve + s.half;
    uint64_t length = 1;
    while (length < static_cast<uint64_t>(lag + stream_headroom + 2 * s.half + 2))
        length *= 2;
    for (int64_t c = 0; c < o.channels; c++)
        s.ring[c].assign(length, 0.0);
    s.mask = length - 1;
    s.min_lag = s.half;
    s.max_lag = static_cast<int64_t>(length) - 2 * s.half - 2;
    s.anchor_q = -static_cast<double>(lag);
    s.upstream_delay = o.upstream_delay;
    s.planned = o.planned;
    s.random = glitch_random_make(o.random_per_minute, o.random_seed, o.rate);
    return s;
}

double stream_position(const stream& s, int64_t j) { return s.anchor_q + static_cast<double>(j - s.anchor_j) * s.step; }

void stream_process(stream& s, const double* y, double* out, int64_t since, glitch_queue& q)
{
    const int64_t j = s.written++;
    for (int64_t c = 0; c < s.channels; c++)
        s.ring[c][static_cast<uint64_t>(j) & s.mask] = y[c];
    if (since == 0 && s.step != s.clocked_step) {
        rebase(s, j, stream_position(s, j));
        s.step = s.clocked_step;
    }
    for (; since >= 0 && s.next_planned < s.planned.size() && s.planned[s.next_planned].at <= since; s.next_planned++)
        apply(s, s.planned[s.next_planned], false, j, since, q);
    while (since >= 0 && s.random.next_at >= 0 && s.random.next_at <= since)
        apply(s, glitch_random_next(s.random, s.rate), true, j, since, q);
    // The lag held within its bounds: never past the newest frame the kernel
    // needs, never behind the oldest the ring keeps.
    double position = stream_position(s, j);
    const double newest = static_cast<double>(j - s.min_lag), oldest = static_cast<double>(j - s.max_lag);
    if (position > newest || position < oldest) {
        position = std::clamp(position, oldest, newest);
        rebase(s, j, position);
        q.clamped.fetch_add(1, std::memory_order_relaxed);
    }
    if (s.zero_left > 0) {
        s.zero_left--;
        for (int64_t c = 0; c < s.channels; c++)
            out[c] = 0.0;
        return;
    }
    for (int64_t c = 0; c < s.channels; c++)
        out[c] = read(s, c, position);
}

}  // namespace loopsim
