#include "tools/loopsim/loop.hpp"

#include <algorithm>
#include <cmath>

namespace loopsim {

namespace {

constexpr double crosstalk_reference_hz = 1000.0;

bool finite(double v) { return std::isfinite(v); }

// The first difference's gain that makes |X(1 kHz)| the level asked for:
// |1 - e^(-jw)| = 2 sin(w / 2).
double capacitive_gain(double level, double rate)
{
    return level / (2.0 * std::sin(M_PI * crosstalk_reference_hz / rate));
}

double hum_at(const loop& l)
{
    double sum = 0.0;
    for (int64_t k = 1; k <= l.hum_harmonics; k++) {
        // The phase from the frame count modulo the rate: exact for whole-hertz hum however long it runs.
        const double cycles = std::fmod(l.hum_hz * static_cast<double>(k) * static_cast<double>(l.frame), l.rate);
        sum += l.hum_amplitude[k - 1] * std::sin(2.0 * M_PI * cycles / l.rate);
    }
    return sum;
}

}  // namespace

std::string loop_check_stream(const loop_options& o)
{
    if (!(std::fabs(o.ppm) <= 1000.0))
        return "--ppm: the clock offset must lie within +-1000 ppm";
    if (!(o.wander_rms >= 0.0 && o.wander_rms <= 100.0))
        return "--wander: the rms must lie in 0 .. 100 ppm";
    if (o.wander_rms > 0.0 && !(o.wander_tau >= 0.001 && o.wander_tau <= 1e6))
        return "--wander: the correlation time must lie in 0.001 .. 1e6 s";
    if (!(o.clock_log_s == 0.0 || (o.clock_log_s >= 0.001 && o.clock_log_s <= 86400.0)))
        return "--clock-log: the interval must lie in 0.001 .. 86400 s (0: none)";
    if (!(std::fabs(o.dc) < 1.0))
        return "--dc: the level must be finite and less than 1 in size";
    if (!(std::fabs(o.ppm2) <= skew_max_ppm))
        return "--ppm2: channel 2's clock offset must lie within +-10 ppm";
    if (!(o.glitch_per_minute >= 0.0 && o.glitch_per_minute <= 60.0) ||
        !(o.playback_glitch_per_minute >= 0.0 && o.playback_glitch_per_minute <= 60.0))
        return "--glitch-random: 0 .. 60 a minute";
    // A period below N is a glitch of n = the period: within --glitch's bound.
    static_assert(struggle_max_below <= stream_headroom / 2);
    if (!(o.headroom >= 1024 && o.headroom <= stream_headroom))
        return "the stream's headroom must lie in 1024 .. 262144 frames";
    if (o.struggle_below != 0 &&
        !(o.struggle_below >= 2 && o.struggle_below <= std::min(struggle_max_below, o.headroom / 2)))
        return "--struggle-below: N must be a whole number of frames in 2 .. " +
               std::to_string(std::min(struggle_max_below, o.headroom / 2)) + " (0: never)";
    const auto time_ok = [](double t) { return t >= 0.0 && t < 1e7; };
    for (const loop_options::rate_step& r : o.rate_steps)
        if (!time_ok(r.seconds) || !(std::fabs(r.ppm) <= 1000.0))
            return "--rate-step: a time in 0 .. 1e7 s and a clock offset within +-1000 ppm";
    for (const double t : o.polarity_flips)
        if (!time_ok(t))
            return "--polarity-flip: a time in 0 .. 1e7 s";
    for (const loop_options::burst& b : o.bursts)
        if (!time_ok(b.seconds) || b.n < 1 || b.n > stream_headroom / 2 || !(b.dbfs <= 0.0 && b.dbfs >= -300.0))
            return "--burst: a time in 0 .. 1e7 s, 1 .. 131072 frames, an RMS level in -300 .. 0 dBFS";
    for (size_t i = 0; i < o.glitches.size(); i++) {
        if (o.glitches[i].n < 1 || o.glitches[i].n > o.headroom / 2)
            return "--glitch: a glitch is 1 .. " + std::to_string(o.headroom / 2) + " frames long";
        if (!(o.glitch_seconds[i] >= 0.0 && o.glitch_seconds[i] < 1e7))
            return "--glitch: a glitch's time must lie in 0 .. 1e7 seconds";
    }
    return "";
}

std::string loop_check(const loop_options& o)
{
    const std::string path_problem = path_check(o.path);
    if (!path_problem.empty())
        return path_problem;
    if (o.channels < 1 || o.channels > 2)
        return "channels must be 1 or 2";
    if (!finite(o.gain2_db) || std::fabs(o.gain2_db) > 60.0)
        return "channel 2's gain must lie within +-60 dB of channel 1's";
    if (o.channels == 2) {
        const std::string second = path_check(loop_channel(o, 2));
        if (!second.empty())
            return "channel 2: " + second;
    }
    if (!(o.crosstalk_db <= 0.0))
        return "crosstalk must be at most 0 dB";
    if (o.poly.size() > static_cast<size_t>(poly_max_order - 1))
        return "the polynomial has at most nine coefficients, a2 .. a10";
    for (double a : o.poly)
        if (!finite(a) || std::fabs(a) > 100.0)
            return "polynomial coefficients must be finite, at most 100 in size";
    if (o.hum_hz != 0.0 && (!(o.hum_hz > 0.0) || o.hum_hz * static_cast<double>(o.hum_harmonics) >= o.path.rate / 2.0))
        return "hum and its harmonics must lie between 0 and half the rate";
    if (o.hum_harmonics < 1 || o.hum_harmonics > hum_max_harmonics)
        return "hum has 1 .. 20 harmonics (the fundamental counts)";
    if (!(o.hum_dbfs <= 0.0))
        return "hum must be at most 0 dBFS";
    const std::string stream_problem = loop_check_stream(o);
    if (!stream_problem.empty())
        return stream_problem;
    // The drops of both sides take their frames from the reserve, the inserts
    // give them back: in their order, the planned ones must never overdraw it.
    // A capture glitch at T s acts T s after the first sound, a playback one
    // when the played frames of T s reach the stage, the path's part of the
    // delay later.
    const int64_t reserve = loop_reserve(o);
    const double upstream = static_cast<double>(o.path.delay - reserve) / o.path.rate;
    const auto acts = [&](size_t i) {
        return o.glitch_seconds[i] + (o.glitches[i].side == glitch_side::playback ? upstream : 0.0);
    };
    std::vector<size_t> order(o.glitches.size());
    for (size_t i = 0; i < order.size(); i++)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return acts(a) < acts(b); });
    int64_t left = reserve;
    for (size_t i : order) {
        const glitch& g = o.glitches[i];
        left += g.kind == glitch_kind::insert ? g.n : g.kind == glitch_kind::drop ? -g.n : 0;
        if (left < 0)
            return "--glitch: the drop at " + std::to_string(o.glitch_seconds[i]) +
                   " s overdraws the --delay (less the earliest "
                   "echo, plus the inserts before it) by " +
                   std::to_string(-left) + " frames: drops take their frames from there";
    }
    return "";
}

bool loop_streams(const loop_options& o)
{
    return o.ppm != 0.0 || o.wander_rms > 0.0 || !o.glitches.empty() || o.glitch_per_minute > 0.0 ||
           o.playback_glitch_per_minute > 0.0 || o.clock_log_s > 0.0 || o.struggle_below > 0 || !o.rate_steps.empty() ||
           !o.polarity_flips.empty() || !o.bursts.empty();
}

path_options loop_channel(const loop_options& o, int64_t channel)
{
    path_options p = o.path;
    if (channel == 2) {
        p.gain *= std::pow(10.0, o.gain2_db / 20.0);
        p.delay += o.delay2;
        p.noise_seed = 0xD1B54A32D192ED03ull;
    }
    return p;
}

int64_t loop_reserve(const loop_options& o)
{
    if (!loop_streams(o))
        return 0;
    int64_t earliest = 0;  // the whole delay of the earliest reading of any channel's ring
    for (const echo_options& e : o.path.echoes)
        earliest = std::min(earliest, e.offset);
    int64_t reserve = o.path.delay + earliest;
    if (o.channels == 2)
        reserve = std::min(reserve, o.path.delay + o.delay2 + earliest);
    return std::max<int64_t>(reserve, 0);
}

loop loop_build(const loop_options& o)
{
    loop l;
    l.channels = o.channels;
    l.rate = o.path.rate;
    const int64_t reserve = loop_reserve(o);
    for (int64_t c = 0; c < o.channels; c++) {
        path_options p = loop_channel(o, c + 1);
        p.delay -= reserve;  // the echoes keep their offsets: reserve <= delay + the earliest offset
        l.paths[c] = path_build(p);
    }
    l.distortion = poly_make(o.poly);
    l.distorted = l.distortion.order > 1;
    const double crosstalk = o.crosstalk_db > -300.0 ? std::pow(10.0, o.crosstalk_db / 20.0) : 0.0;
    l.shape = o.shape;
    l.crosstalk_gain = o.shape == crosstalk_shape::capacitive ? capacitive_gain(crosstalk, o.path.rate)
                       : o.shape == crosstalk_shape::cubic    ? crosstalk * 4.0 / 3.0
                                                              : crosstalk;
    if (o.hum_hz > 0.0 && o.hum_dbfs > -300.0) {
        l.hum_hz = o.hum_hz;
        l.hum_harmonics = o.hum_harmonics;
        for (int64_t k = 1; k <= o.hum_harmonics; k++)
            l.hum_amplitude[k - 1] = std::pow(10.0, o.hum_dbfs / 20.0) / static_cast<double>(k);
    }
    stream_options s;
    s.rate = o.path.rate, s.channels = o.channels, s.ppm = o.ppm;
    s.reserve = reserve, s.upstream_delay = o.path.delay - reserve;
    for (size_t i = 0; i < o.glitches.size(); i++) {
        glitch g = o.glitches[i];
        g.at = std::llrint(o.glitch_seconds[i] * o.path.rate);
        s.planned.push_back(g);
    }
    std::stable_sort(s.planned.begin(), s.planned.end(), [](const glitch& a, const glitch& b) { return a.at < b.at; });
    s.random_per_minute = o.glitch_per_minute, s.random_seed = o.glitch_seed;
    s.playback_random_per_minute = o.playback_glitch_per_minute, s.playback_random_seed = o.playback_glitch_seed;
    s.struggle_below = o.struggle_below, s.headroom = o.headroom;
    s.wander_rms = o.wander_rms, s.wander_tau = o.wander_tau, s.wander_seed = o.wander_seed;
    s.clock_every = o.clock_log_s > 0.0 ? std::max<int64_t>(1, std::llrint(o.clock_log_s * o.path.rate)) : 0;
    const auto frame_of = [&o](double seconds) { return std::llrint(seconds * o.path.rate); };
    for (const loop_options::rate_step& r : o.rate_steps)
        s.rate_steps.push_back({frame_of(r.seconds), r.ppm});
    std::stable_sort(s.rate_steps.begin(), s.rate_steps.end(),
                     [](const stream_rate_step& a, const stream_rate_step& b) { return a.at < b.at; });
    for (const double t : o.polarity_flips)
        s.polarity_flips.push_back(frame_of(t));
    std::sort(s.polarity_flips.begin(), s.polarity_flips.end());
    for (const loop_options::burst& b : o.bursts)
        s.bursts.push_back({frame_of(b.seconds), b.n, std::pow(10.0, b.dbfs / 20.0)});
    std::stable_sort(s.bursts.begin(), s.bursts.end(),
                     [](const stream_burst& a, const stream_burst& b) { return a.at < b.at; });
    l.tail = stream_build(s);
    if (o.channels == 2)
        l.second = skew_build(o.ppm2, o.path.rate);
    l.dropouts = o.path.dropout_ms > 0.0 || o.path.dropout_once_ms > 0.0;
    l.dc = o.dc;
    return l;
}

void loop_period(loop& l, int64_t frames)
{
    // The next frame's output frame from the first sound: 0 before it, so that
    // a period set before the first sound counts from there.
    if (l.tail.active)
        struggle_period(l.tail.struggling, frames, std::max<int64_t>(l.since, 0));
}

void loop_process(loop& l, const double* x, double* y, glitch_queue& q)
{
    double linear[stream_max_channels], mixed[stream_max_channels];
    bool sound = false;
    for (int64_t c = 0; c < l.channels; c++) {
        linear[c] = path_linear(l.paths[c], x[c]);
        sound = sound || x[c] != 0.0;
    }
    const double hum = l.hum_harmonics > 0 ? hum_at(l) : 0.0;
    for (int64_t c = 0; c < l.channels; c++) {
        mixed[c] = l.distorted ? poly_apply(l.distortion, linear[c]) : linear[c];
        if (l.channels == 2 && l.crosstalk_gain != 0.0) {
            const int64_t other = 1 - c;
            const double x = linear[other];
            mixed[c] += l.crosstalk_gain * (l.shape == crosstalk_shape::flat    ? x
                                            : l.shape == crosstalk_shape::cubic ? x * x * x
                                                                                : x - l.linear_before[other]);
        }
        mixed[c] += hum + path_noise(l.paths[c]);
    }
    for (int64_t c = 0; c < l.channels; c++)
        l.linear_before[c] = linear[c];
    if (l.since < 0 && sound)
        l.since = 0;
    if (l.tail.active)
        stream_process(l.tail, mixed, y, l.since, q);
    else
        std::copy(mixed, mixed + l.channels, y);
    if (l.channels == 2)
        y[1] = skew_process(l.second, y[1], l.since, q);
    // Before the first sound the dropouts' clock stands at 0, as in path_process.
    if (l.dropouts && path_dropped(l.paths[0], std::max<int64_t>(l.since, 0)))
        std::fill(y, y + l.channels, 0.0);
    // The converter's offset: on every frame, the silent ones included.
    if (l.dc != 0.0)
        for (int64_t c = 0; c < l.channels; c++)
            y[c] += l.dc;
    l.frame++;
    if (l.since >= 0)
        l.since++;
}

std::complex<double> loop_crosstalk_at(const loop_options& o, double hz)
{
    if (o.crosstalk_db <= -300.0)
        return 0.0;
    const double level = std::pow(10.0, o.crosstalk_db / 20.0);
    if (o.shape != crosstalk_shape::capacitive)
        return level;
    return capacitive_gain(level, o.path.rate) * (1.0 - std::polar(1.0, -2.0 * M_PI * hz / o.path.rate));
}

}  // namespace loopsim
