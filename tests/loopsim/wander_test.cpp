// The clock's wander: the Ornstein-Uhlenbeck process against what was asked
// (its rms, its correlation at a few lags, its mean tending to zero as the
// run grows), and the loop's clock against it: the clock records give the
// positions that --ppm plus that very process imply.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "common/rig.hpp"
#include "tools/loopsim/loop.hpp"

namespace {

std::vector<double> wander_run(double rms, double tau, uint64_t seed, double at_rate, int64_t frames)
{
    loopsim::wander w = loopsim::wander_make(rms, tau, seed, at_rate);
    std::vector<double> x(static_cast<size_t>(frames));
    for (int64_t k = 0; k < frames; k++) {
        x[k] = w.x;
        loopsim::wander_next(w);
    }
    return x;
}

double correlation(const std::vector<double>& x, size_t lag)
{
    double sum = 0.0, power = 0.0;
    for (size_t k = 0; k + lag < x.size(); k++)
        sum += x[k] * x[k + lag];
    for (double v : x)
        power += v * v;
    return sum / static_cast<double>(x.size() - lag) / (power / static_cast<double>(x.size()));
}

TEST(LoopsimWander, RmsAndCorrelationAreWhatWasAsked)
{
    // 2 ppm rms, 10 ms (480 frames) correlation time, 4000 of them: the
    // estimates' own scatter is about 1 % for the rms and 0.02 for each
    // correlation; the bounds are several times that.
    const double rms = 2.0, tau = 0.01;
    const int64_t frames = 4000 * 480;
    const std::vector<double> x = wander_run(rms, tau, 11, rate, frames);
    double sum = 0.0, power = 0.0;
    for (double v : x)
        sum += v, power += v * v;
    const double n = static_cast<double>(frames);
    EXPECT_NEAR(std::sqrt(power / n), rms, 0.05 * rms);
    EXPECT_LT(std::fabs(sum / n), 0.15 * rms);
    EXPECT_NEAR(correlation(x, 1), std::exp(-1.0 / 480.0), 1e-3);
    EXPECT_NEAR(correlation(x, 120), std::exp(-0.25), 0.05);
    EXPECT_NEAR(correlation(x, 480), std::exp(-1.0), 0.05);
    EXPECT_NEAR(correlation(x, 960), std::exp(-2.0), 0.05);
    EXPECT_NEAR(correlation(x, 4800), 0.0, 0.05);
    // The seed decides it all.
    EXPECT_EQ(wander_run(rms, tau, 11, rate, 1000), std::vector<double>(x.begin(), x.begin() + 1000));
    EXPECT_NE(wander_run(rms, tau, 12, rate, 1000), std::vector<double>(x.begin(), x.begin() + 1000));
    EXPECT_NE(x[0], 0.0);  // started from its stationary law, not from 0
}

TEST(LoopsimWander, ItsMeanTendsToZeroAsTheRunGrows)
{
    // The mean of an AR(1) x_{k+1} = a x_k + ... over N frames has the
    // variance (rms^2 / N) ((1 + a) / (1 - a) - 2 a (1 - a^N) / (N (1 - a)^2)):
    // over 24 seeds its rms lies within a generous factor of that, at N = 1e4
    // and at N = 1e6 (a hundred times smaller, sqrt(100) = 10 times). At 1 kHz,
    // tau 50 ms (50 frames), 10 s and 1000 s.
    const double rms = 5.0, tau = 0.05, at_rate = 1000.0;
    const double a = std::exp(-1.0 / (tau * at_rate));
    for (int64_t frames : {10000, 1000000}) {
        const double n = static_cast<double>(frames);
        const double want =
            rms *
            std::sqrt(((1.0 + a) / (1.0 - a) - 2.0 * a * (1.0 - std::pow(a, n)) / (n * (1.0 - a) * (1.0 - a))) / n);
        double square = 0.0;
        const int seeds = 24;
        for (int seed = 1; seed <= seeds; seed++) {
            double sum = 0.0;
            for (double v : wander_run(rms, tau, static_cast<uint64_t>(seed), at_rate, frames))
                sum += v;
            square += (sum / n) * (sum / n);
        }
        const double got = std::sqrt(square / seeds);
        EXPECT_GT(got, 0.6 * want) << frames;
        EXPECT_LT(got, 1.5 * want) << frames;
    }
}

TEST(LoopsimWander, TheClockRecordsAreThePositionsPpmPlusTheWanderImply)
{
    // 150 ppm with a wander of 20 ppm rms, 50 ms: output frame m carries the
    // input at sum_{k < m} 1 / (1 + (150 + x_k) 1e-6) - (D + 64), x the very
    // process the seed gives; a record every 10 ms says so, and its ppm is
    // 150 + x_m. Over the run the mean offset the records give is 150 plus the
    // process's own mean, and within five of its standard errors of 150.
    const double ppm = 150.0, rms = 20.0, tau = 0.05;
    const int64_t delay = 1000, frames = 48000 * 20, every = 480;
    loopsim::loop_options o;
    o.path.delay = delay, o.ppm = ppm;
    o.wander_rms = rms, o.wander_tau = tau, o.wander_seed = 3;
    o.clock_log_s = 0.01;
    ASSERT_EQ(loopsim::loop_check(o), "");
    loopsim::loop l = loopsim::loop_build(o);
    static loopsim::glitch_queue q;
    std::vector<loopsim::clock_record> records;
    for (int64_t i = 0; i < frames; i++) {
        double in[2] = {std::sin(0.01 * static_cast<double>(i)) + 0.5, 0.0}, out[2] = {};
        loopsim::loop_process(l, in, out, q);
        for (loopsim::clock_record r; loopsim::clock_queue_pop(q, r);)
            records.push_back(r);
        for (loopsim::glitch_record r; loopsim::glitch_queue_pop(q, r);)
            ADD_FAILURE() << "a glitch";
    }
    ASSERT_EQ(static_cast<int64_t>(records.size()), frames / every);
    EXPECT_EQ(q.clamped.load(), 0u);
    loopsim::wander w = loopsim::wander_make(rms, tau, 3, rate);
    long double position = -static_cast<long double>(delay + loopsim::stream_half), mean_x = 0.0L;
    size_t next = 0;
    double worst = 0.0;
    for (int64_t m = 0; m < frames; m++) {
        if (m % every == 0) {
            const loopsim::clock_record& r = records.at(next++);
            EXPECT_EQ(r.out, m);
            EXPECT_NEAR(r.ppm, ppm + w.x, 1e-9) << m;
            worst = std::max(worst, std::fabs(r.in - static_cast<double>(position)));
        }
        mean_x += w.x;
        position += 1.0L / (1.0L + (ppm + w.x) * 1e-6L);
        loopsim::wander_next(w);
    }
    EXPECT_LT(worst, 1e-6) << "frames, the worst record's position";
    const loopsim::clock_record &first = records.front(), &last = records.back();
    const double mean_ppm = (static_cast<double>(last.out - first.out) / (last.in - first.in) - 1.0) * 1e6;
    const double frames_between = static_cast<double>(last.out - first.out);
    // The wander's own mean over the same frames (to first order: the offset is a harmonic mean of 1 + ppm 1e-6 + x).
    EXPECT_NEAR(mean_ppm, ppm + static_cast<double>(mean_x) / static_cast<double>(frames), 0.05);
    const double standard_error = rms * std::sqrt(2.0 * tau * rate / frames_between);
    EXPECT_LT(std::fabs(mean_ppm - ppm), 5.0 * standard_error) << "standard error " << standard_error;
    // The drift a detector sees: the delay's growth over the run.
    EXPECT_NEAR((static_cast<double>(last.out) - last.in) - (static_cast<double>(first.out) - first.in),
                (mean_ppm * 1e-6) * (last.in - first.in), 1e-6);
}

}  // namespace
