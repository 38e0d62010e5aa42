// The drift: the mean of the 0.1 s slopes with their AR(1) long-run
// variance; beside them, batches of a doubling length, each its own
// least-squares slope, whose scatter checks for slower wander.
#include "analysis/monitor_drift.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Two batches' lines as one (Chan's pairwise update of the co-moments).
monitor_drift_batch drift_merged(const monitor_drift_batch& a, const monitor_drift_batch& b)
{
    if (a.n == 0)
        return b;
    if (b.n == 0)
        return a;
    monitor_drift_batch m;
    m.n = a.n + b.n;
    const double na = static_cast<double>(a.n), nb = static_cast<double>(b.n), n = static_cast<double>(m.n);
    const double dt = b.mean_t - a.mean_t, dd = b.mean_delay - a.mean_delay, w = na * nb / n;
    m.mean_t = a.mean_t + dt * nb / n;
    m.mean_delay = a.mean_delay + dd * nb / n;
    m.tt = a.tt + b.tt + dt * dt * w;
    m.td = a.td + b.td + dt * dd * w;
    m.dd = a.dd + b.dd + dd * dd * w;
    m.first_t = a.first_t;
    m.last_t = b.last_t;
    return m;
}

}  // namespace

monitor_drift monitor_drift_make(int64_t first_length)
{
    monitor_drift s;
    s.first_length = s.length = std::max<int64_t>(2, first_length);
    return s;
}

void monitor_drift_restart(monitor_drift& s) { s = monitor_drift_make(s.first_length); }

namespace {

// Welford's update of one batch's line.
void batch_add(monitor_drift_batch& b, double t, double delay)
{
    if (b.n == 0)
        b.first_t = t;
    b.last_t = t;
    b.n++;
    const double n = static_cast<double>(b.n), dt = t - b.mean_t, dd = delay - b.mean_delay;
    b.mean_t += dt / n;
    b.mean_delay += dd / n;
    b.tt += dt * (t - b.mean_t);
    b.td += dt * (delay - b.mean_delay);
    b.dd += dd * (delay - b.mean_delay);
}

void moments_add(monitor_drift_moments& m, double slope)
{
    if (m.n == 0)
        m.first = slope;
    if (m.n == 1)
        m.second = slope;
    if (m.n >= 1)
        m.lagged += slope * m.last;
    if (m.n >= 2)
        m.lagged2 += slope * m.before_last;
    m.before_last = m.last;
    m.last = slope;
    m.sum += slope;
    m.squares += slope * slope;
    m.n++;
}

// A 0.1 s slope done: into the sums.
void slope_done(monitor_drift& s)
{
    const monitor_drift_batch& b = s.slope_batch;
    const double slope = b.tt > 0.0 ? b.td / b.tt : 0.0;
    if (s.all.n == 0)
        s.first_t = b.mean_t, s.first_delay = b.mean_delay;
    if (b.n > 2 && b.tt > 0.0) {
        const double noise = std::max(0.0, b.dd - slope * b.td) / static_cast<double>(b.n - 2);
        s.noise_sum += noise;
        s.noise_slope_sum += noise / b.tt;
    }
    s.last_t = b.mean_t, s.last_delay = b.mean_delay;
    moments_add(s.all, slope);
    moments_add(s.segment, slope);
    s.recent[static_cast<size_t>(s.recent_count % monitor_drift_recent)] = {slope, b.first_t, b.last_t};
    s.recent_count++;
    s.slope_span += b.last_t - b.first_t;
    s.slope_batch = {};
}

// The long-run variance of a run of slopes about its own mean, the
// autocovariance at lag 0 (the slopes' own variance), and how the
// covariances fall from one slope to the next.
struct long_run_figure {
    double variance = 0.0, gamma0 = 0.0, gamma1 = 0.0, correlation = 0.0, factor = 1.0;
};

long_run_figure long_run_of(const monitor_drift_moments& m)
{
    long_run_figure r;
    if (m.n < 3)
        return r;
    const double n = static_cast<double>(m.n), mean = m.sum / n;
    // The autocovariances at lags 0, 1 and 2 about the mean, from the sums.
    const double gamma0 = std::max(0.0, m.squares / n - mean * mean);
    const double gamma1 = (m.lagged - mean * (2.0 * m.sum - m.first - m.last) + (n - 1.0) * mean * mean) / n;
    const double gamma2 =
        (m.lagged2 - mean * (2.0 * m.sum - m.first - m.second - m.last - m.before_last) + (n - 2.0) * mean * mean) / n;
    // The long-run variance: each slope a mean of an Ornstein-Uhlenbeck rate
    // over its 0.1 s, so that the covariances fall as phi^k from lag 1 on
    // (not from lag 0: the averaging takes more off the variance than off
    // the covariances), phi their ratio from lag 1 to 2; the variance of the
    // mean then gamma0 + 2 gamma1 / (1 - phi). Unless lags 1 and 2 both show
    // a correlation beyond what white noise gives by chance (2 / sqrt n: the
    // measurement's noise alone), phi is noise over noise, and the AR(1)
    // form stands: gamma0 (1 + rho) / (1 - rho).
    double long_run = gamma0;
    if (gamma0 > 0.0 && gamma1 > 0.0) {
        const double rho = std::min(gamma1 / gamma0, 0.995);
        const double chance = 2.0 / std::sqrt(n);
        const bool correlated = rho > chance && gamma2 / gamma0 > chance;
        const double phi = std::clamp(gamma2 / gamma1, 0.0, 0.995);
        long_run = correlated ? gamma0 + 2.0 * gamma1 / (1.0 - phi) : gamma0 * (1.0 + rho) / (1.0 - rho);
        r.correlation = correlated ? phi : rho;
    }
    // The covariances about the estimated mean are low by about the mean's
    // own variance, a share factor / n of gamma0: taken back.
    const double factor = gamma0 > 0.0 ? long_run / gamma0 : 1.0;
    long_run /= std::max(0.5, 1.0 - factor / n);
    r.variance = long_run;
    r.gamma0 = gamma0;
    r.gamma1 = gamma1;
    r.factor = gamma0 > 0.0 ? long_run / gamma0 : 1.0;
    return r;
}

}  // namespace

void monitor_drift_split(monitor_drift& s, double t)
{
    // The last slopes of the stretch that lie past the step's start (the one
    // across it among them) come off it, in the order they went in.
    const int64_t kept = std::min<int64_t>(s.recent_count, monitor_drift_recent);
    int64_t off = 0;
    while (off < kept && off < s.segment.n &&
           s.recent[static_cast<size_t>((s.recent_count - 1 - off) % monitor_drift_recent)].last_t >= t)
        off++;
    const auto recent = [&](int64_t back) {
        return s.recent[static_cast<size_t>((s.recent_count - 1 - back) % monitor_drift_recent)];
    };
    // The stretch without them: its sums less theirs, and the products that reach them.
    monitor_drift_moments before = s.segment;
    for (int64_t i = 0; i < off; i++) {
        const int64_t j = before.n - 1;  // the index of the last one left, which comes off now
        const double b = recent(i).slope;
        before.sum -= b, before.squares -= b * b;
        if (j >= 1)
            before.lagged -= b * (i + 1 < kept ? recent(i + 1).slope : 0.0);
        if (j >= 2)
            before.lagged2 -= b * (i + 2 < kept ? recent(i + 2).slope : 0.0);
        before.n--;
    }
    if (off < kept)
        before.last = recent(off).slope;
    if (off + 1 < kept)
        before.before_last = recent(off + 1).slope;
    // A stretch too short for covariances, or one whose last slopes fell out of reach, goes on into the next.
    if (before.n < monitor_drift_least_batches || off + 2 > kept)
        return;
    const long_run_figure r = long_run_of(before);
    s.closed_variance += static_cast<double>(before.n) * r.variance;
    s.closed_effective += static_cast<double>(before.n) / r.factor;
    s.segments++;
    // The next: the slopes wholly past the step (the one across it in neither).
    s.segment = {};
    for (int64_t i = off - 1; i >= 0; i--)
        if (recent(i).first_t >= t)
            moments_add(s.segment, recent(i).slope);
}

void monitor_drift_add(monitor_drift& s, double t, double delay)
{
    batch_add(s.slope_batch, t, delay);
    if (s.slope_batch.n >= s.first_length)
        slope_done(s);
    monitor_drift_batch& b = s.batches[static_cast<size_t>(s.full)];
    batch_add(b, t, delay);
    if (b.n < s.length || ++s.full < monitor_drift_batches)
        return;
    // All full: neighbours merge, and the batches to come hold twice as many.
    constexpr int half = monitor_drift_batches / 2;
    for (int i = 0; i < half; i++)
        s.batches[static_cast<size_t>(i)] =
            drift_merged(s.batches[static_cast<size_t>(2 * i)], s.batches[static_cast<size_t>(2 * i + 1)]);
    std::fill(s.batches.begin() + half, s.batches.end(), monitor_drift_batch{});
    s.full = half;
    s.length *= 2;
}

namespace {

// The mean of the full batches' slopes and one standard error from their scatter (0 with fewer than two).
void batches_figure(const monitor_drift& s, double& mean, double& sigma)
{
    double sum = 0.0, scatter = 0.0;
    for (int i = 0; i < s.full; i++) {
        const monitor_drift_batch& b = s.batches[static_cast<size_t>(i)];
        sum += b.td / b.tt;
    }
    const double k = static_cast<double>(s.full);
    mean = s.full > 0 ? sum / k : 0.0;
    for (int i = 0; i < s.full; i++) {
        const monitor_drift_batch& b = s.batches[static_cast<size_t>(i)];
        scatter += (b.td / b.tt - mean) * (b.td / b.tt - mean);
    }
    sigma = s.full > 1 ? std::sqrt(scatter / (k - 1.0) / k) : 0.0;
}

}  // namespace

monitor_drift_figure monitor_drift_estimate(const monitor_drift& s)
{
    monitor_drift_figure f;
    if (s.all.n < monitor_drift_least_batches) {
        // Too few slopes for a spread: the line through everything so far, with no uncertainty.
        monitor_drift_batch all;
        for (const monitor_drift_batch& b : s.batches)
            all = drift_merged(all, b);
        if (all.n >= 2 && all.tt > 0.0)
            f.ppm = 1e6 * all.td / all.tt;
        return f;
    }
    // The drift over the run: the delay's change between the first and the
    // last 0.1 s slopes' centroids over their distance (each centroid the
    // mean of 19 measurements, so that the measurement's noise is small in
    // it). Its uncertainty as an estimate of a long-term rate: the variance
    // of the mean of the 0.1 s slopes between (nearly the same mean rate),
    // each stretch between rate steps its own long-run variance, weighed by
    // its count.
    const double n = static_cast<double>(s.all.n);
    const double mean = s.last_t > s.first_t ? (s.last_delay - s.first_delay) / (s.last_t - s.first_t) : 0.0;
    const long_run_figure current = long_run_of(s.segment);
    const double segment_n = static_cast<double>(s.segment.n);
    const double long_run = (s.closed_variance + segment_n * current.variance) / n;
    // The rate's own long-run variance: the measurement's white noise, which
    // the slopes carry into it (each its own, uncorrelated), taken out; the
    // line through the two centroids carries only theirs, the noise of one
    // measurement over each slope's count.
    const double slope_noise = s.noise_slope_sum / n;
    const double rate_long_run = std::max(0.0, long_run - slope_noise);
    const double span = s.last_t - s.first_t;
    const double ends = span > 0.0 ? 2.0 * s.noise_sum / n / static_cast<double>(s.first_length) / (span * span) : 0.0;
    const double gamma0 = current.gamma0, gamma1 = current.gamma1;
    f.correlation = current.correlation;
    const double effective = s.closed_effective + segment_n / current.factor;
    // What the rounding of the delays themselves leaves: on a clean digital
    // path every slope agrees to its last bits, and their scatter would say
    // that the drift is known exactly.
    double resolved = 0.0;
    for (int i = 0; i < s.full; i++) {
        const monitor_drift_batch& b = s.batches[static_cast<size_t>(i)];
        resolved = std::max(resolved, std::fabs(b.mean_delay) / std::sqrt(b.tt));
    }
    const monitor_drift_batch& filling = s.batches[static_cast<size_t>(s.full)];
    if (filling.tt > 0.0)
        resolved = std::max(resolved, std::fabs(filling.mean_delay) / std::sqrt(filling.tt));
    resolved = 4.0 * std::numeric_limits<double>::epsilon() * (resolved + std::fabs(mean));
    const double sigma = std::max(resolved, std::sqrt(rate_long_run / n + ends));
    f.ppm = 1e6 * mean;
    f.sigma_ppm = 1e6 * sigma;
    f.effective = effective;
    // Student's t on 0.4 of the effective slopes less one: the long-run
    // variance rests on two estimates (gamma and phi), and at ten
    // correlation times on about five independent slopes. With the whole
    // of them, ten correlation times covered 90.7 %; with 0.4, 94.1 %, and
    // the longer runs stay within 95 +- 0.5 % (DISABLED_CoverageByRunLength).
    f.interval_ppm = monitor_drift_t95(0.4 * (f.effective - 1.0)) * f.sigma_ppm;
    f.batch_frames = s.slope_span / n;
    f.from_t = s.first_t, f.to_t = s.last_t;
    f.slopes = s.all.n;
    f.segments = s.segments;
    f.batches = s.full;
    // Slower wander: a correlation time of a quarter of the run or more (the
    // interval holds from ten of them up: of runs of 2 correlation times 60 %
    // are flagged, of a rate that walks 70 %, of runs of 10 8 %, of 60 none);
    // or, an Allan-type check of the model on two levels, the batches (a
    // sixteenth to an eighth of the run each, each about m slopes long)
    // scattering more than the slopes' model says a mean of m of them should
    // (gamma0 + 2 sum_j (1 - j / m) gamma1 phi^(j - 1)) / m: four times the
    // variance, beyond what eight batches give by chance (2e-4), as flicker
    // does. The batches' interval then, if the wider; the figure stays the
    // drift over the run.
    const double spacing =
        f.batch_frames * static_cast<double>(s.first_length) / static_cast<double>(s.first_length - 1);
    f.correlation_frames = f.correlation > 0.0 ? -spacing / std::log(std::min(f.correlation, 0.995)) : 0.0;
    // For the flag, phi taken back from its bias about the run's own mean
    // (low by about (1 + 3 phi) / n, Kendall's): wander as slow as the run
    // itself shows a phi well below its own.
    const double unbiased = std::min(f.correlation + (1.0 + 3.0 * f.correlation) / segment_n, 0.999);
    const double slowest = f.correlation > 0.0 ? -spacing / std::log(unbiased) : 0.0;
    f.wander_slow = 4.0 * slowest > segment_n * spacing;
    // (Across a rate step the batches see the step, not wander: no check there.)
    if (s.full >= monitor_drift_least_batches && gamma0 > 0.0 && s.segments == 0) {
        double batch_mean = 0.0, batch_sigma = 0.0;
        batches_figure(s, batch_mean, batch_sigma);
        const double k = static_cast<double>(s.full);
        const double observed = batch_sigma * batch_sigma * k;                  // the batches' own variance
        const int64_t m = std::max<int64_t>(1, s.length / 2 / s.first_length);  // slopes a full batch holds
        const double gamma1_model = gamma1 > 0.0 ? gamma1 : 0.0;
        double within = 0.0, power = 1.0;
        for (int64_t j = 1; j < m; j++) {
            within += (1.0 - static_cast<double>(j) / static_cast<double>(m)) * power;
            power *= f.correlation;
        }
        const double expected = (gamma0 + 2.0 * gamma1_model * within) / static_cast<double>(m);
        if (observed > 4.0 * expected) {
            f.wander_slow = true;
            f.sigma_ppm = std::max(f.sigma_ppm, 1e6 * batch_sigma);
            f.interval_ppm =
                std::max(f.interval_ppm, monitor_drift_t95(static_cast<double>(s.full - 1)) * 1e6 * batch_sigma);
        }
    }
    return f;
}

double monitor_drift_t95(double dof)
{
    static constexpr std::array<double, 30> quantiles{12.7062, 4.3027, 3.1824, 2.7764, 2.5706, 2.4469, 2.3646, 2.3060,
                                                      2.2622,  2.2281, 2.2010, 2.1788, 2.1604, 2.1448, 2.1314, 2.1199,
                                                      2.1098,  2.1009, 2.0930, 2.0860, 2.0796, 2.0739, 2.0687, 2.0639,
                                                      2.0595,  2.0555, 2.0518, 2.0484, 2.0452, 2.0423};
    // Beyond the table, the Cornish-Fisher expansion about the normal's 1.96 (to 1e-5 from 30 on).
    const auto expansion = [](double v) {
        const double z = 1.959963985, z2 = z * z;
        const double g1 = (z2 * z + z) / 4.0;
        const double g2 = (5.0 * z2 * z2 * z + 16.0 * z2 * z + 3.0 * z) / 96.0;
        const double g3 = (3.0 * z2 * z2 * z2 * z + 19.0 * z2 * z2 * z + 17.0 * z2 * z - 15.0 * z) / 384.0;
        return z + g1 / v + g2 / (v * v) + g3 / (v * v * v);
    };
    const auto whole = [&](int v) { return v <= 30 ? quantiles[static_cast<size_t>(v - 1)] : expansion(v); };
    if (!(dof > 1.0))
        return quantiles[0];
    if (dof > 1e6)
        return expansion(1e6);
    const int low = static_cast<int>(std::floor(dof));
    const double part = dof - low;
    return part == 0.0 ? whole(low) : whole(low) + part * (whole(low + 1) - whole(low));
}
