// Hours in minutes: the monitor's detector fed exactly synthesised captures
// of realistic interfaces (tests/common/monitor_synth.hpp) faster than real
// time: clocks offset, wandering and stepping, converter filters, hum, DC,
// distortion, noise from -140 to -80 dBFS, rates from 44.1 to 192 kHz, and
// glitches of every kind at random times, sizes and spacings (pairs and
// threes 1 to 20 ms apart among them). Each glitch the synthesis made is
// looked for among the events: found with its kind, size and frame, found
// otherwise, or missed; each glitch event that matches none is false.
// ctest -L harness runs three simulated minutes (tools/test.sh, beside the
// end-to-end tests); ctest -L long runs 24 hours (DISABLED_TwentyFourHours)
// and prints the table docs/monitor.md quotes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "analysis/monitor.hpp"
#include "common/monitor_synth.hpp"

namespace {

using synth::what;

// An interface: its rate, clock, converter filter and what it adds.
struct harness_interface {
    const char* name;
    double rate_hz, ppm, wander_rms, wander_tau;
    int filter_half;
    double a2, a3, hum_dbfs, dc, latency;
};

const harness_interface harness_interfaces[] = {
    {"digital loop, one clock", 48000.0, 0.0, 0.0, 1.0, 0, 0.0, 0.0, -400.0, 0.0, 300.0},
    {"USB interface, crystal wander, 63-tap filter, hum, DC", 48000.0, 37.0, 0.3, 2.0, 31, 1e-3, 2e-2, -100.0, 1e-3,
     1200.0},
    {"cheap codec at 44.1 kHz, wander 1 ppm over 0.5 s, 127 taps", 44100.0, -120.0, 1.0, 0.5, 63, 3e-3, 5e-2, -400.0,
     0.0, 2000.0},
    {"96 kHz, slow wander, DC offset", 96000.0, 250.0, 0.1, 10.0, 31, 0.0, 0.0, -400.0, -2e-3, 4096.0},
    {"192 kHz, 3 ppm of wander over 5 s, 127 taps", 192000.0, -15.0, 3.0, 5.0, 63, 0.0, 0.0, -400.0, 0.0, 9000.0},
    {"two devices 900 ppm apart, 60 Hz hum", 48000.0, 900.0, 0.5, 1.0, 31, 1e-3, 1e-2, -110.0, 0.0, 700.0},
};
constexpr int harness_interface_count = sizeof harness_interfaces / sizeof harness_interfaces[0];

// One glitch the synthesis made, and what it should read as.
struct harness_truth {
    synth::glitch g;
    monitor_kind kind;
    int64_t frames;  // -1: any size
    int64_t slack;   // frames the event's frame may lie from g.frame
    int64_t size_slack;
    bool glitch;  // a glitch (not a rate, level or polarity change)
};

struct harness_tally {
    double hours = 0.0;
    int64_t injected = 0, right = 0, wrong = 0, missed = 0, false_glitches = 0;
    int64_t changes = 0, changes_reported = 0, false_changes = 0;
    int64_t lost = 0;  // stimulus lost on purpose (0.3 s of zeros): each lost, then found
    double wall_s = 0.0;

    void add(const harness_tally& o)
    {
        hours += o.hours, injected += o.injected, right += o.right, wrong += o.wrong, missed += o.missed;
        false_glitches += o.false_glitches, changes += o.changes, changes_reported += o.changes_reported;
        false_changes += o.false_changes, lost += o.lost, wall_s += o.wall_s;
    }
};

// The glitches of a stretch of `frames`, drawn from seed: clusters 5 to 30 s
// apart, each one glitch, or two or three 1 to 20 ms apart (from the end of
// one to the start of the next); kinds with their sizes log-uniform; now and
// then a rate step, a level change, a polarity flip; every ten minutes the
// stimulus gone for 0.3 s.
std::vector<harness_truth> harness_plan(const harness_interface& f, int64_t frames, uint64_t seed, double signal)
{
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto log_uniform = [&](double low, double high) {
        return std::llround(std::exp(std::log(low) + unit(random) * (std::log(high) - std::log(low))));
    };
    const double rate = f.rate_hz;
    const int64_t half = f.filter_half;
    std::vector<harness_truth> plan;
    int64_t at = std::llround(3.0 * rate);  // locked on and learnt by then
    double ppm = f.ppm, gain = 1.0;
    int64_t next_lost = std::llround(300.0 * rate);
    while (true) {
        at += std::llround((5.0 + 25.0 * unit(random)) * rate);
        if (at + std::llround(2.0 * rate) >= frames)
            break;
        if (at >= next_lost) {
            const int64_t n = std::llround(0.3 * rate);
            plan.push_back({{what::capture_zeros, at, n, 0.0}, monitor_kind::lost, 0, 2, 0, true});
            next_lost += std::llround(600.0 * rate);
            continue;
        }
        const int count = unit(random) < 0.7 ? 1 : unit(random) < 0.7 ? 2 : 3;
        int64_t g_at = at;
        for (int i = 0; i < count; i++) {
            harness_truth t{};
            t.glitch = true;
            const double pick = unit(random);
            if (pick < 0.12) {
                const int64_t n = log_uniform(1, 2048);
                t = {{what::capture_drop, g_at, n, 0.0}, monitor_kind::dropped, n, 2, 0, true};
            } else if (pick < 0.24) {
                const int64_t n = log_uniform(1, 2048);
                t = {{what::capture_insert, g_at, n, 0.0}, monitor_kind::inserted, n, 2, 0, true};
            } else if (pick < 0.34) {
                const int64_t n = log_uniform(8, 2048);
                t = {{what::capture_zeros, g_at, n, 0.0}, monitor_kind::zeros, n, 2, 0, true};
            } else if (pick < 0.46) {
                const int64_t n = log_uniform(1, 2048);
                t = {{what::playback_drop, g_at, n, 0.0}, monitor_kind::dropped, n, half + 2, 0, true};
            } else if (pick < 0.56) {
                const int64_t n = log_uniform(16, 2048);
                t = {{what::playback_insert, g_at, n, 0.0}, monitor_kind::inserted, n, half + 2, 0, true};
            } else if (pick < 0.66) {
                const int64_t n = log_uniform(16, 2048);
                t = {{what::underrun, g_at, n, 0.0}, monitor_kind::inserted, n, half + 2, 0, true};
            } else if (pick < 0.76) {
                // A mute of n played frames lasts n (1 + ppm 1e-6) captured ones, its edges through the filter.
                const int64_t n = log_uniform(64 + 4 * half, 4096);
                t = {{what::playback_zeros, g_at, n, 0.0},
                     monitor_kind::zeros,
                     n,
                     3,
                     2 + std::llabs(std::llround(n * ppm * 1e-6)),
                     true};
            } else if (pick < 0.86) {
                t = {{what::click, g_at, 1, (unit(random) < 0.5 ? 1.0 : -1.0) * 0.4 * signal},
                     monitor_kind::discontinuity,
                     1,
                     2,
                     0,
                     true};
            } else if (pick < 0.93) {
                t = {{what::burst, g_at, log_uniform(4, 256), 0.1 * signal},
                     monitor_kind::discontinuity,
                     -1,
                     2,
                     0,
                     true};
            } else if (pick < 0.96) {
                // Up or down by 1 to 6 dB, the gain kept within 12 dB of the start.
                const double db = (gain > 1.5    ? -1.0
                                   : gain < 0.66 ? 1.0
                                                 : (unit(random) < 0.5 ? -1.0 : 1.0)) *
                                  (1.0 + 5.0 * unit(random));
                gain *= std::pow(10.0, db / 20.0);
                t = {{what::level, g_at, 0, std::pow(10.0, db / 20.0)}, monitor_kind::level, -1, 2, 0, false};
            } else if (pick < 0.98) {
                t = {{what::polarity, g_at, 0, 0.0}, monitor_kind::polarity, -1, 2, 0, false};
            } else {
                // A step of the clocks' rate: 1 to 20 ppm either way, reported where it stands out of the wander.
                ppm += (unit(random) < 0.5 ? -1.0 : 1.0) * static_cast<double>(log_uniform(1, 20));
                t = {{what::rate_step, g_at, 0, ppm}, monitor_kind::rate, -1, std::llround(0.01 * rate), 0, false};
            }
            plan.push_back(t);
            // The next of the cluster 1 to 20 ms after this one's end.
            const int64_t extent = t.g.kind == what::capture_drop || t.g.kind == what::playback_drop ? 0 : t.g.frames;
            g_at += extent + std::llround((1.0 + 19.0 * unit(random)) * 1e-3 * rate);
        }
    }
    return plan;
}

// One stretch: an interface at a noise level, for minutes, its glitches from seed.
harness_tally harness_stretch(const harness_interface& f, double noise_dbfs, double minutes, uint64_t seed)
{
    const auto started = std::chrono::steady_clock::now();
    const monitor_stimulus s = monitor_stimulus_design(f.rate_hz, monitor_default_level_dbfs);
    synth::options o;
    o.rate = f.rate_hz, o.latency = f.latency, o.ppm = f.ppm, o.wander_rms = f.wander_rms, o.wander_tau = f.wander_tau,
    o.filter_half = f.filter_half, o.a2 = f.a2, o.a3 = f.a3, o.dc = f.dc, o.seed = seed;
    o.noise_rms = std::pow(10.0, noise_dbfs / 20.0);
    o.hum_hz = f.rate_hz == 48000.0 && f.ppm > 500.0 ? 60.0 : 50.0;
    o.hum_amplitude = f.hum_dbfs > -300.0 ? std::pow(10.0, f.hum_dbfs / 20.0) : 0.0;
    const double signal = o.gain * std::pow(10.0, monitor_default_level_dbfs / 20.0);
    const int64_t frames = std::llround(minutes * 60.0 * f.rate_hz);
    const std::vector<harness_truth> plan = harness_plan(f, frames, seed * 7919 + 13, signal);
    std::vector<synth::glitch> glitches;
    for (const harness_truth& t : plan)
        glitches.push_back(t.g);
    synth::interface capture(s, o, glitches);
    monitor_detector d = monitor_detector_make(s, monitor_loop{std::round(f.latency), o.gain, 0});
    std::vector<monitor_event> events;
    std::vector<float> block(8192);
    for (int64_t at = 0; at < frames; at += static_cast<int64_t>(block.size())) {
        capture.fill(block);
        monitor_feed(d, block, at, false, events);
    }
    // Each truth's event: the nearest of its kind within its slack, else any glitch event within it.
    harness_tally t;
    t.hours = minutes / 60.0;
    std::vector<bool> used(events.size(), false);
    for (const harness_truth& x : plan) {
        if (x.glitch)
            (x.kind == monitor_kind::lost ? t.lost : t.injected)++;
        else
            t.changes++;
        int best = -1, other = -1;
        for (size_t i = 0; i < events.size(); i++) {
            const monitor_event& e = events[i];
            if (used[i] || e.kind == monitor_kind::found || std::llabs(e.frame - x.g.frame) > x.slack)
                continue;
            if (e.kind == x.kind && (best < 0 || std::llabs(e.frame - x.g.frame) <
                                                     std::llabs(events[static_cast<size_t>(best)].frame - x.g.frame)))
                best = static_cast<int>(i);
            else if (x.glitch && monitor_kind_is_glitch(e.kind) && other < 0)
                other = static_cast<int>(i);
        }
        if (!x.glitch) {
            if (best >= 0)
                used[static_cast<size_t>(best)] = true, t.changes_reported++;
            continue;
        }
        if (best >= 0) {
            used[static_cast<size_t>(best)] = true;
            const monitor_event& e = events[static_cast<size_t>(best)];
            const bool size_right = x.frames < 0 || std::llabs(e.frames - x.frames) <= x.size_slack;
            if (x.kind != monitor_kind::lost)
                (size_right ? t.right : t.wrong)++;
        } else if (other >= 0) {
            used[static_cast<size_t>(other)] = true;
            t.wrong++;
        } else if (x.kind != monitor_kind::lost) {
            t.missed++;
        }
    }
    for (size_t i = 0; i < events.size(); i++)
        if (!used[i] && events[i].kind != monitor_kind::found)
            (monitor_kind_is_glitch(events[i].kind) ? t.false_glitches : t.false_changes)++;
    if (getenv("HARNESS_SHOW")) {
        for (const harness_truth& x : plan)
            std::printf("    truth %s %lld at %lld (%d)\n", monitor_kind_name(x.kind), (long long)x.g.frames,
                        (long long)x.g.frame, (int)x.g.kind);
        for (size_t i = 0; i < events.size(); i++)
            std::printf("    event %s %lld at %lld%s\n", monitor_kind_name(events[i].kind), (long long)events[i].frames,
                        (long long)events[i].frame, used[i] ? "" : " UNMATCHED");
    }
    t.wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return t;
}

// Every interface in turn at each noise level, minutes each; the tally by noise level.
std::vector<harness_tally> harness_run(double minutes, int stretches_per_level, bool print)
{
    const double levels[] = {-80.0, -110.0, -140.0};
    std::vector<harness_tally> by_level;
    uint64_t seed = 1;
    for (size_t level_index = 0; level_index < 3; level_index++) {
        const double level = levels[level_index];
        harness_tally total;
        for (int i = 0; i < stretches_per_level; i++) {
            const harness_interface& f =
                harness_interfaces[(static_cast<size_t>(i) + 2 * level_index) % harness_interface_count];
            const harness_tally t = harness_stretch(f, level, minutes, seed++);
            if (print)
                std::printf(
                    "  %5.0f dBFS %-58s %6.2f h: %4lld glitches, %4lld right, %2lld wrong, %2lld missed, "
                    "%2lld false; %3lld changes, %3lld reported, %2lld false; %5.1f s\n",
                    level, f.name, t.hours, static_cast<long long>(t.injected), static_cast<long long>(t.right),
                    static_cast<long long>(t.wrong), static_cast<long long>(t.missed),
                    static_cast<long long>(t.false_glitches), static_cast<long long>(t.changes),
                    static_cast<long long>(t.changes_reported), static_cast<long long>(t.false_changes), t.wall_s);
            total.add(t);
        }
        by_level.push_back(total);
    }
    if (print) {
        std::printf(
            "noise      hours  glitches/h  right/h  wrong/h  missed/h  false/h   changes/h  reported/h  "
            "false/h   wall\n");
        for (size_t i = 0; i < by_level.size(); i++) {
            const harness_tally& t = by_level[i];
            std::printf("%5.0f dBFS %5.2f  %9.1f  %7.1f  %7.2f  %8.2f  %7.2f   %9.1f  %10.1f  %7.2f  %5.0f s\n",
                        levels[i], t.hours, t.injected / t.hours, t.right / t.hours, t.wrong / t.hours,
                        t.missed / t.hours, t.false_glitches / t.hours, t.changes / t.hours,
                        t.changes_reported / t.hours, t.false_changes / t.hours, t.wall_s);
        }
    }
    return by_level;
}

}  // namespace

// Three simulated minutes, one at each noise level (a minute of each of
// three interfaces): no false glitch, none missed, and all but one in a
// hundred found with the right kind, size and frame. (It found a false
// "discontinuity 1" at 0.55 s on the cheap 44.1 kHz codec at -110 dBFS, and
// a 989-frame mute through 127 taps at 192 kHz and -140 dBFS read as two
// discontinuities: monitor_clock_test's and monitor_events_test's rows now.)
TEST(MonitorHarness, ThreeSimulatedMinutes)
{
    for (const harness_tally& t : harness_run(1.0, 1, false)) {
        EXPECT_GT(t.injected, 0);
        EXPECT_EQ(t.false_glitches, 0);
        EXPECT_EQ(t.missed, 0);
        EXPECT_GE(static_cast<double>(t.right), 0.99 * static_cast<double>(t.injected));
    }
}

// 24 simulated hours: eight at each of -80, -110 and -140 dBFS, the six
// interfaces in turn an hour each. Zero false glitches; the table printed.
TEST(MonitorHarnessLong, DISABLED_TwentyFourHours)
{
    for (const harness_tally& t : harness_run(60.0, 8, true)) {
        EXPECT_EQ(t.false_glitches, 0);
        EXPECT_LE(static_cast<double>(t.missed), 0.001 * static_cast<double>(t.injected));
        EXPECT_GE(static_cast<double>(t.right), 0.99 * static_cast<double>(t.injected));
    }
}

// The table for any length (HARNESS_MINUTES a stretch, HARNESS_STRETCHES per
// noise level; HARNESS_SHOW=1 lists each truth and event).
TEST(MonitorHarnessLook, DISABLED_Table)
{
    const char* m = getenv("HARNESS_MINUTES");
    const char* n = getenv("HARNESS_STRETCHES");
    harness_run(m ? atof(m) : 2.0, n ? atoi(n) : 6, true);
}
