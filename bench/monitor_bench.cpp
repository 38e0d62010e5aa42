// The long-run monitor's cost on the main thread: CPU per second of captured
// signal, once locked on, at 48 and 192 kHz (the detector's whole feed: the
// prediction, the residue, the loops; no glitches). The budget is 2 % of a
// core at 48 kHz: 20 ms per second of signal.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "analysis/monitor.hpp"

namespace {

// state.range(0): the rate. Each iteration feeds 3 s of capture in blocks of
// 1024 frames to a detector that locked on to the second before.
void BM_monitor_feed(benchmark::State& state)
{
    const double rate = static_cast<double>(state.range(0));
    const int64_t second = state.range(0), latency = 300, measured = 3 * second;
    const monitor_stimulus s = monitor_stimulus_design(rate, monitor_default_level_dbfs);
    std::vector<float> capture(static_cast<size_t>(second + measured));
    monitor_stimulus_fill(s, capture, -latency);
    std::mt19937_64 random(7);
    std::normal_distribution<double> normal(0.0, 3.16e-5);
    for (float& v : capture)
        v = static_cast<float>(0.5 * v + normal(random));
    std::vector<monitor_event> events;
    for (auto _ : state) {
        state.PauseTiming();
        monitor_detector d = monitor_detector_make(s, monitor_loop{static_cast<double>(latency), 0.5, 0});
        monitor_feed(d, std::span<const float>(capture).first(static_cast<size_t>(second)), 0, false, events);
        state.ResumeTiming();
        for (int64_t at = second; at < second + measured; at += 1024)
            monitor_feed(d, std::span<const float>(capture).subspan(static_cast<size_t>(at), 1024), at, false, events);
        benchmark::DoNotOptimize(events.data());
    }
    state.SetItemsProcessed(state.iterations() * measured);
    // Seconds of CPU per second of signal: the share of a core in real time.
    state.counters["cpu_per_signal_s"] = benchmark::Counter(static_cast<double>(state.iterations() * 3),
                                                            benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_monitor_feed)->Arg(48000)->Arg(192000)->Unit(benchmark::kMillisecond);

// Re-alignment after a disturbance: one search over +-0.25 s at 48 kHz.
void BM_monitor_realign(benchmark::State& state)
{
    const double rate = 48000.0;
    const monitor_stimulus s = monitor_stimulus_design(rate, monitor_default_level_dbfs);
    monitor_model m;
    m.tones = s.tones;
    for (const monitor_tone& t : s.tones) {
        m.gain_re.push_back(0.5 * t.amplitude);
        m.gain_im.push_back(0.0);
    }
    m.delay = 300.0;
    monitor_model trial = m;
    std::vector<float> y(1024);
    monitor_stimulus_fill(s, y, 10000 - 300 + 64);  // 64 frames dropped
    for (float& v : y)
        v *= 0.5f;
    const size_t k = s.tones.size();
    std::vector<double> a(k), b(k), c(k), ur(k), ui(k), tr(k), ti(k), window(1024);
    monitor_align_window(window);
    monitor_align_work w;
    w.rho_re = a;
    w.rho_im = b;
    w.weight = c;
    w.window = window;
    w.pass.unit_re = ur;
    w.pass.unit_im = ui;
    w.pass.turn_re = tr;
    w.pass.turn_im = ti;
    w.trial = &trial;
    for (auto _ : state)
        benchmark::DoNotOptimize(monitor_align(m, y, 10000, 12000, 1e-3, 1e300, true, w));
}
BENCHMARK(BM_monitor_realign)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
