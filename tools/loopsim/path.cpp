#include "tools/loopsim/path.hpp"

#include <algorithm>
#include <cmath>
#include <complex>

namespace loopsim {

namespace {

double sinc(double t) { return t == 0.0 ? 1.0 : std::sin(M_PI * t) / (M_PI * t); }

// Blackman window at t frames from its centre, zero at |t| >= half_width.
double blackman(double t, double half_width)
{
    if (std::fabs(t) >= half_width)
        return 0.0;
    const double phase = M_PI * t / half_width;
    return 0.42 + 0.5 * std::cos(phase) + 0.08 * std::cos(2.0 * phase);
}

// Scales the taps to a DC gain of exactly 1, so that the filters change the
// level only where they are meant to.
void normalise(std::vector<double>& taps)
{
    double sum = 0.0;
    for (double t : taps)
        sum += t;
    for (double& t : taps)
        t /= sum;
}

// A sinc delayed by fraction frames beyond its bulk delay of taps / 2 - 1.
std::vector<double> fractional_delay_taps(double fraction, int64_t taps)
{
    if (fraction == 0.0)
        return {1.0};
    std::vector<double> h(static_cast<size_t>(taps));
    const double centre = static_cast<double>(taps / 2 - 1) + fraction;
    for (int64_t n = 0; n < taps; n++)
        h[n] = sinc(static_cast<double>(n) - centre) * blackman(static_cast<double>(n) - centre, taps / 2.0);
    normalise(h);
    return h;
}

// Linear-phase low-pass with its -6 dB point at cutoff, delay (taps - 1) / 2.
std::vector<double> lowpass_taps(double cutoff_hz, int64_t taps, double rate)
{
    if (cutoff_hz <= 0.0)
        return {1.0};
    std::vector<double> h(static_cast<size_t>(taps));
    const double band = 2.0 * cutoff_hz / rate;
    const double centre = static_cast<double>(taps - 1) / 2.0;
    for (int64_t n = 0; n < taps; n++)
        h[n] = band * sinc(band * (static_cast<double>(n) - centre)) *
               blackman(static_cast<double>(n) - centre, (taps + 1) / 2.0);
    normalise(h);
    return h;
}

std::vector<double> convolve(const std::vector<double>& a, const std::vector<double>& b)
{
    std::vector<double> c(a.size() + b.size() - 1, 0.0);
    for (size_t i = 0; i < a.size(); i++)
        for (size_t j = 0; j < b.size(); j++)
            c[i + j] += a[i] * b[j];
    return c;
}

// First-order high-pass by the bilinear transform: an exact zero at DC.
biquad highpass_section(double corner_hz, double rate)
{
    const double k = std::tan(M_PI * corner_hz / rate);
    biquad s;
    s.b0 = 1.0 / (1.0 + k);
    s.b1 = -s.b0;
    s.a1 = (k - 1.0) / (k + 1.0);
    return s;
}

// Peaking and shelving sections after R. Bristow-Johnson's audio EQ cookbook.
biquad eq_section(eq_kind kind, double hz, double q, double db, double rate)
{
    const double a = std::pow(10.0, db / 40.0);
    const double w0 = 2.0 * M_PI * hz / rate;
    const double cw = std::cos(w0), alpha = std::sin(w0) / (2.0 * q);
    const double root = 2.0 * std::sqrt(a) * alpha;
    double b0, b1, b2, a0, a1, a2;
    if (kind == eq_kind::peak) {
        b0 = 1.0 + alpha * a, b1 = -2.0 * cw, b2 = 1.0 - alpha * a;
        a0 = 1.0 + alpha / a, a1 = -2.0 * cw, a2 = 1.0 - alpha / a;
    } else if (kind == eq_kind::low_shelf) {
        b0 = a * ((a + 1.0) - (a - 1.0) * cw + root);
        b1 = 2.0 * a * ((a - 1.0) - (a + 1.0) * cw);
        b2 = a * ((a + 1.0) - (a - 1.0) * cw - root);
        a0 = (a + 1.0) + (a - 1.0) * cw + root;
        a1 = -2.0 * ((a - 1.0) + (a + 1.0) * cw);
        a2 = (a + 1.0) + (a - 1.0) * cw - root;
    } else {
        b0 = a * ((a + 1.0) + (a - 1.0) * cw + root);
        b1 = -2.0 * a * ((a - 1.0) + (a + 1.0) * cw);
        b2 = a * ((a + 1.0) + (a - 1.0) * cw - root);
        a0 = (a + 1.0) - (a - 1.0) * cw + root;
        a1 = 2.0 * ((a - 1.0) - (a + 1.0) * cw);
        a2 = (a + 1.0) - (a - 1.0) * cw - root;
    }
    biquad s;
    s.b0 = b0 / a0, s.b1 = b1 / a0, s.b2 = b2 / a0, s.a1 = a1 / a0, s.a2 = a2 / a0;
    return s;
}

double run(biquad& s, double x)
{
    const double y = s.b0 * x + s.b1 * s.x1 + s.b2 * s.x2 - s.a1 * s.y1 - s.a2 * s.y2;
    s.x2 = s.x1, s.x1 = x, s.y2 = s.y1, s.y1 = y;
    return y;
}

// A transfer function H at one frequency together with D = j dH/dw (for an
// FIR, the sum of n h[n] e^(-jwn)); the group delay is Re(D / H). Products and
// sums of sections carry D by the rules of the derivative.
struct spectrum {
    std::complex<double> h, d;
};

spectrum operator*(const spectrum& a, const spectrum& b) { return {a.h * b.h, a.d * b.h + a.h * b.d}; }
spectrum operator+(const spectrum& a, const spectrum& b) { return {a.h + b.h, a.d + b.d}; }

spectrum transfer(const biquad& s, double w)
{
    const std::complex<double> z1 = std::polar(1.0, -w), z2 = z1 * z1;
    const std::complex<double> n = s.b0 + s.b1 * z1 + s.b2 * z2, m = 1.0 + s.a1 * z1 + s.a2 * z2;
    const std::complex<double> dn = s.b1 * z1 + 2.0 * s.b2 * z2, dm = s.a1 * z1 + 2.0 * s.a2 * z2;
    return {n / m, (dn * m - n * dm) / (m * m)};
}

// A tap of weight g at n frames.
spectrum delayed(double g, int64_t n, double w)
{
    const std::complex<double> h = g * std::polar(1.0, -w * static_cast<double>(n));
    return {h, static_cast<double>(n) * h};
}

// The linear part at w radians a frame: the FIR and the sections; with the
// whole delay and the echoes when whole, else without the whole delay (the
// level alone, as the printed responses have always computed it).
spectrum linear_part(const path& p, double w, bool whole)
{
    spectrum s{0.0, 0.0};
    for (size_t j = 0; j < p.fir.size(); j++) {
        const std::complex<double> t = p.fir[j] * std::polar(1.0, -w * static_cast<double>(j));
        s.h += t;
        s.d += static_cast<double>(j) * t;
    }
    if (p.use_highpass)
        s = s * transfer(p.highpass, w);
    if (p.use_eq)
        s = s * transfer(p.eq, w);
    if (!whole && p.echo_count == 0)
        return s;
    s = s * delayed(1.0, p.delay, w);
    for (int64_t e = 0; e < p.echo_count; e++)
        s = s + delayed(p.echo_gain[e], p.echo_delay[e], w);
    return s;
}

// Uniform in [-1, 1) from a 64-bit xorshift: fixed seed, the same noise every run.
double next_uniform(uint64_t& state)
{
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<double>(state >> 11) * (2.0 / 9007199254740992.0) - 1.0;
}

double to_db(double power) { return power > 1e-30 ? 10.0 * std::log10(power) : -300.0; }

}  // namespace

std::string path_check(const path_options& o)
{
    if (o.rate < 8000.0 || o.rate > 768000.0)
        return "rate must lie in 8000 .. 768000 Hz";
    if (o.delay < 0 || o.delay > (1 << 22))
        return "delay must lie in 0 .. 4194304 frames";
    if (o.fraction < 0.0 || o.fraction >= 1.0)
        return "fraction must lie in [0, 1)";
    if (o.fraction_taps < 2 || o.fraction_taps > 1024 || o.fraction_taps % 2 != 0)
        return "fraction taps must be even, 2 .. 1024";
    if (o.aa_cutoff_hz < 0.0 || o.aa_cutoff_hz >= o.rate / 2.0)
        return "AA cut-off must lie below half the rate";
    if (o.aa_taps < 1 || o.aa_taps > 2047 || o.aa_taps % 2 == 0)
        return "AA taps must be odd, 1 .. 2047";
    if (o.highpass_hz < 0.0 || o.highpass_hz >= 1000.0)
        return "high-pass corner must lie below 1000 Hz";
    if (o.eq != eq_kind::none && (o.eq_hz <= 0.0 || o.eq_hz >= o.rate / 2.0 || o.eq_q <= 0.0))
        return "EQ needs 0 < frequency < half the rate and Q > 0";
    if (o.dropout_ms < 0.0 || (o.dropout_ms > 0.0 && o.dropout_every_s * 1000.0 <= o.dropout_ms))
        return "a dropout must be shorter than its period";
    if (o.dropout_once_s < 0.0 || o.dropout_once_ms < 0.0)
        return "a single dropout needs a start and a length >= 0";
    if (!(o.noise_dbfs <= 20.0))
        return "noise must be at most +20 dB re full scale";
    if (o.echoes.size() > max_echoes)
        return "at most four echoes";
    for (const echo_options& e : o.echoes)
        if (o.delay + e.offset < 0 || o.delay + e.offset > (1 << 22))
            return "an echo's delay (the whole delay + its offset) must lie in 0 .. 4194304 frames";
    return "";
}

path path_build(const path_options& o)
{
    path p;
    p.fir =
        convolve(fractional_delay_taps(o.fraction, o.fraction_taps), lowpass_taps(o.aa_cutoff_hz, o.aa_taps, o.rate));
    const double gain = o.invert ? -o.gain : o.gain;
    for (double& t : p.fir)
        t *= gain;
    p.delay = o.delay;
    int64_t longest = o.delay + static_cast<int64_t>(p.fir.size());
    for (const echo_options& e : o.echoes) {
        p.echo_delay[p.echo_count] = o.delay + e.offset;
        p.echo_gain[p.echo_count] = gain * std::pow(10.0, e.db / 20.0);
        longest = std::max(longest, o.delay + e.offset);
        p.echo_count++;
    }
    uint64_t length = 1;
    while (length < static_cast<uint64_t>(longest) + 1)
        length *= 2;
    p.ring.assign(length, 0.0);
    p.ring_mask = length - 1;
    p.use_highpass = o.highpass_hz > 0.0;
    if (p.use_highpass)
        p.highpass = highpass_section(o.highpass_hz, o.rate);
    p.use_eq = o.eq != eq_kind::none;
    if (p.use_eq)
        p.eq = eq_section(o.eq, o.eq_hz, o.eq_q, o.eq_db, o.rate);
    p.noise_amplitude = o.noise_dbfs > -300.0 ? std::sqrt(3.0) * std::pow(10.0, o.noise_dbfs / 20.0) : 0.0;
    p.noise_state = o.noise_seed | 1;
    p.pink = p.noise_amplitude > 0.0 && o.colour == noise_colour::pink;
    if (p.pink) {
        // Uniform in [-1, 1) has an RMS of 1 / sqrt(3).
        p.pink_noise = pink_design(o.rate, 1.0 / std::sqrt(3.0), std::pow(10.0, o.noise_dbfs / 20.0));
    }
    if (o.dropout_ms > 0.0) {
        p.dropout_length = std::llrint(o.dropout_ms * o.rate / 1000.0);
        p.dropout_period = std::llrint(o.dropout_every_s * o.rate);
    }
    if (o.dropout_once_ms > 0.0) {
        p.dropout_once_start = std::llrint(o.dropout_once_s * o.rate);
        p.dropout_once_end = p.dropout_once_start + std::llrint(o.dropout_once_ms * o.rate / 1000.0);
    }
    return p;
}

double path_linear(path& p, double x)
{
    p.ring[p.write_pos & p.ring_mask] = x;
    double y = 0.0;
    const uint64_t newest = p.write_pos - static_cast<uint64_t>(p.delay);
    for (size_t j = 0; j < p.fir.size(); j++)
        y += p.fir[j] * p.ring[(newest - j) & p.ring_mask];
    p.write_pos++;
    if (p.use_highpass)
        y = run(p.highpass, y);
    if (p.use_eq)
        y = run(p.eq, y);
    for (int64_t e = 0; e < p.echo_count; e++)
        y += p.echo_gain[e] * p.ring[(p.write_pos - 1 - static_cast<uint64_t>(p.echo_delay[e])) & p.ring_mask];
    return y;
}

double path_noise(path& p)
{
    if (p.noise_amplitude == 0.0)
        return 0.0;
    if (p.pink)
        return pink_run(p.pink_noise, next_uniform(p.noise_state));
    return p.noise_amplitude * next_uniform(p.noise_state);
}

bool path_dropped(const path& p, int64_t frame)
{
    // A dropout falls in the last dropout_length frames of each period, so
    // that the first period runs clean.
    if (p.dropout_period > 0 && frame % p.dropout_period >= p.dropout_period - p.dropout_length)
        return true;
    return frame >= p.dropout_once_start && frame < p.dropout_once_end;
}

double path_process(path& p, double x)
{
    double y = path_linear(p, x) + path_noise(p);
    // The clock starts with the first sound, so that a test knows when the
    // dropouts come after closing its loop.
    p.sounding = p.sounding || x != 0.0;
    if (path_dropped(p, p.frame))
        y = 0.0;
    if (p.sounding)
        p.frame++;
    return y;
}

std::vector<double> path_impulse_response(const path_options& options, int64_t n)
{
    path_options linear = options;
    linear.noise_dbfs = -400.0;
    linear.dropout_ms = 0.0;
    linear.dropout_once_ms = 0.0;
    path p = path_build(linear);
    std::vector<double> h(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; i++)
        h[i] = path_process(p, i == 0 ? 1.0 : 0.0);
    return h;
}

std::vector<double> path_response_db(const path_options& options)
{
    const path p = path_build(options);
    std::vector<double> level(1024);
    for (int64_t k = 0; k < 1024; k++)
        level[k] = to_db(std::norm(linear_part(p, 2.0 * M_PI * static_cast<double>(k) / 2048.0, false).h));
    return level;
}

std::vector<double> path_truncated_response_db(const path_options& options, int64_t n)
{
    const std::vector<double> h = path_impulse_response(options, n);
    std::vector<double> level(1024);
    for (int64_t k = 0; k < 1024; k++) {
        std::complex<double> sum = 0.0;
        for (int64_t i = 0; i < n; i++)
            sum += h[i] * std::polar(1.0, -2.0 * M_PI * static_cast<double>((k * i) % 2048) / 2048.0);
        level[k] = to_db(std::norm(sum));
    }
    return level;
}

std::complex<double> path_response_at(const path_options& options, double hz)
{
    return linear_part(path_build(options), 2.0 * M_PI * hz / options.rate, true).h;
}

double path_group_delay(const path_options& options, double hz)
{
    const spectrum s = linear_part(path_build(options), 2.0 * M_PI * hz / options.rate, true);
    return (s.d / s.h).real();
}

}  // namespace loopsim
