// loopsim: a JACK client that stands between a program's output and its input
// the way an audio interface does (converter filters, gain, distortion, noise,
// hum, crosstalk, its own clock, glitches, dropouts), and prints the path's
// truths for checking a measurement against them.
//
//   loopsim [OPTIONS]            runs as JACK client "loopsim" (ports in, out;
//                                with a second channel in2, out2), its filters
//                                designed for the server's rate
//   loopsim [OPTIONS] [--rate HZ] [--print-channel 2] --print-ir N | --print-response
//                                | --print-ir-response N | --print-group-delay HZ
//                                | --print-response-at | --print-distortion ...
//                                | --print-crosstalk-at
//
// Ends on SIGINT or SIGTERM. Running, it prints one line for each glitch as it
// happens (to standard output or --log FILE), and nothing else.
#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <complex>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/loopsim/cable.hpp"
#include "tools/loopsim/command_line.hpp"
#include "tools/loopsim/loop.hpp"
#include "tools/loopsim/stream.hpp"

namespace {

// A refused command line: why on one line, where to look on the next; exit status 2.
int refuse(const std::string& problem)
{
    std::fprintf(stderr, "loopsim: %s\nRun \"loopsim --help\" for the options.\n", problem.c_str());
    return 2;
}

loopsim::cable_ports ports;
loopsim::loop sim;
loopsim::glitch_queue events;
FILE* log_file = stdout;
// --start-delays: the extra delay the callback applies (set by the main
// thread at each start), and each channel's line.
loopsim::starts start_delays;
int64_t start_delay_base = 0, start_count = 0;
std::atomic<int64_t> start_extra{0};
loopsim::start_line start_lines[2];
double log_rate = 48000.0;
bool log_clock = false;

// Real time: reads and writes preallocated memory only. Nothing in the loop is
// sized by the period (it takes one frame at a time), so the server may change
// its buffer size at any time: the new size reaches --struggle-below through
// frames, which JACK makes the whole period on every call.
int process(jack_nframes_t frames, void*)
{
    loopsim::loop_period(sim, static_cast<int64_t>(frames));
    const int64_t extra = start_extra.load(std::memory_order_relaxed);
    const float* in[2] = {};
    float* out[2] = {};
    for (int c = 0; c < ports.pairs; c++) {
        in[c] = static_cast<const float*>(jack_port_get_buffer(ports.in[c], frames));
        out[c] = static_cast<float*>(jack_port_get_buffer(ports.out[c], frames));
    }
    for (jack_nframes_t i = 0; i < frames; i++) {
        double x[2] = {}, y[2] = {};
        // A non-finite sample would stay in the sections' state for good; it counts as silence.
        for (int c = 0; c < ports.pairs; c++)
            x[c] = std::isfinite(in[c][i]) ? in[c][i] : 0.0f;
        if (start_delays.given())
            for (int c = 0; c < ports.pairs; c++)
                x[c] = loopsim::start_line_step(start_lines[c], static_cast<float>(x[c]), extra);
        loopsim::loop_process(sim, x, y, events);
        for (int c = 0; c < ports.pairs; c++)
            out[c][i] = static_cast<float>(y[c]);
    }
    return 0;
}

// The main thread: the glitches (and clock records) the callback queued, a
// line each in the order of their output frames, flushed; and a word on
// standard error when records were lost or the clock ran out of room.
void drain_events()
{
    static uint64_t lost_told = 0, clamped_told = 0;
    static std::vector<std::pair<int64_t, std::string>> lines;
    lines.clear();
    loopsim::glitch_record r;
    while (loopsim::glitch_queue_pop(events, r))
        lines.emplace_back(r.out, loopsim::glitch_format(r, log_rate));
    loopsim::clock_record c;
    while (loopsim::clock_queue_pop(events, c))
        lines.emplace_back(c.out, loopsim::clock_format(c, log_rate));
    std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& line : lines)
        std::fputs(line.second.c_str(), log_file);
    if (!lines.empty())
        std::fflush(log_file);
    const uint64_t lost = events.lost.load(std::memory_order_relaxed);
    if (lost != lost_told)
        std::fprintf(stderr, "loopsim: %llu glitch records lost (the log fell behind)\n",
                     static_cast<unsigned long long>(lost_told = lost));
    const uint64_t clamped = events.clamped.load(std::memory_order_relaxed);
    if (clamped != 0 && clamped_told == 0)
        std::fprintf(stderr,
                     "loopsim: the clock's lag reached its bound (a slow --ppm needs more --delay): "
                     "from now on the delay stands still\n");
    clamped_told = clamped;
}

// A new instance of the client plugged in: its start's extra delay, logged.
void start_plugged()
{
    if (!start_delays.given())
        return;
    const int64_t extra = loopsim::starts_extra(start_delays, ++start_count);
    start_extra.store(extra, std::memory_order_relaxed);
    std::fprintf(log_file, "start n=%lld extra=%lld delay=%lld\n", static_cast<long long>(start_count),
                 static_cast<long long>(extra), static_cast<long long>(start_delay_base + extra));
    std::fflush(log_file);
}

void print(const std::vector<double>& values, const char* format)
{
    for (size_t i = 0; i < values.size(); i++)
        std::printf(format, i, values[i]);
}

// Reads frequencies one per line (or separated by blanks) and prints the level
// and phase (in (-180, 180]) of response(hz) at each.
template <typename response>
void print_at(response at)
{
    char token[64];
    while (std::scanf("%63s", token) == 1) {
        char* end = nullptr;
        const double hz = std::strtod(token, &end);
        if (*end != '\0' || !(hz >= 0.0) || !std::isfinite(hz)) {
            std::fprintf(stderr, "loopsim: not a frequency: %s\n", token);
            continue;
        }
        const std::complex<double> h = at(hz);
        std::printf("%s %.9f %.6f\n", token, 10.0 * std::log10(std::max(std::norm(h), 1e-30)),
                    std::arg(h) * 180.0 / M_PI);
    }
}

// Every product of the distortion for one or two sines played at peak DBFS:
// their amplitudes where the polynomial sits are the played ones times the
// linear part's |H|; the products leave it unfiltered, folded about half the
// rate when above it.
void print_distortion(const loopsim::loop_options& o, const loopsim::path_options& channel,
                      const std::vector<double>& tones)
{
    const double f1 = tones[0], f2 = tones.size() > 2 ? tones[2] : 0.0;
    const double a1 = std::pow(10.0, tones[1] / 20.0) * std::abs(loopsim::path_response_at(channel, f1));
    const double a2 =
        tones.size() > 2 ? std::pow(10.0, tones[3] / 20.0) * std::abs(loopsim::path_response_at(channel, f2)) : 0.0;
    for (const loopsim::poly_product& p : loopsim::poly_products(loopsim::poly_make(o.poly), a1, a2)) {
        double hz = std::fabs(static_cast<double>(p.p) * f1 + static_cast<double>(p.q) * f2);
        hz = std::fmod(hz, channel.rate);
        hz = hz > channel.rate / 2.0 ? channel.rate - hz : hz;
        std::printf("%.6f %.9f %lld %lld\n", hz, 20.0 * std::log10(p.amplitude), static_cast<long long>(p.p),
                    static_cast<long long>(p.q));
    }
}

int run_client(const std::string& name, loopsim::loop_options o, const loopsim::cable& cable)
{
    // The JACK threads inherit this mask, so the signals reach the main thread alone.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, nullptr);
    if (!client) {
        std::fprintf(stderr, "loopsim: no JACK server\n");
        return 1;
    }
    o.path.rate = log_rate = jack_get_sample_rate(client);
    const std::string problem = loopsim::loop_check(o);
    if (!problem.empty()) {
        jack_client_close(client);
        return refuse("at the server's " + std::to_string(static_cast<int64_t>(o.path.rate)) + " Hz: " + problem);
    }
    // The clock's truth starts with what was asked: the long-term offset is ppm.
    if (log_clock) {
        std::fprintf(log_file,
                     "clock-start ppm=%.6f wander_rms=%.6f wander_tau=%.6f wander_seed=%llu every=%.6f rate=%.0f\n",
                     o.ppm, o.wander_rms, o.wander_tau, static_cast<unsigned long long>(o.wander_seed), o.clock_log_s,
                     o.path.rate);
        std::fflush(log_file);
    }
    sim = loopsim::loop_build(o);
    ports.pairs = static_cast<int>(o.channels);
    const char* in_names[2] = {"in", "in2"};
    const char* out_names[2] = {"out", "out2"};
    bool registered = true;
    for (int c = 0; c < ports.pairs; c++) {
        ports.in[c] = jack_port_register(client, in_names[c], JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        ports.out[c] = jack_port_register(client, out_names[c], JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        registered = registered && ports.in[c] && ports.out[c];
    }
    if (!registered || jack_set_process_callback(client, process, nullptr) != 0 ||
        !loopsim::cable_watch(client, cable) || jack_activate(client) != 0) {
        std::fprintf(stderr, "loopsim: cannot register or activate\n");
        jack_client_close(client);
        return 1;
    }
    // The glitch lines within 20 ms of their happening.
    loopsim::cable_serve(client, ports, cable, stop, drain_events, 20, start_plugged);
    jack_deactivate(client);
    jack_client_close(client);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    loopsim::command c;
    std::string problem;
    switch (loopsim::command_parse(argc, argv, c, problem)) {
    case loopsim::command_next::help: std::fputs(loopsim::command_usage, stdout); return 0;
    case loopsim::command_next::refused: return refuse(problem);
    case loopsim::command_next::run: break;
    }
    const loopsim::loop_options& lo = c.loop;
    const std::string& print_mode = c.print_mode;
    log_clock = lo.wander_rms > 0.0 || lo.clock_log_s > 0.0;
    const loopsim::path_options channel = loopsim::loop_channel(lo, c.print_channel);
    // With a clock the capture is read through the resampler: its 64 frames
    // and its band are part of the truth.
    const bool resampled = lo.ppm != 0.0 || lo.wander_rms > 0.0 || !lo.rate_steps.empty();
    const auto through = [&](double hz) {
        return resampled ? loopsim::stream_resampler_at(hz, channel.rate) : std::complex<double>(1.0);
    };
    if (print_mode == "--print-ir") {
        const std::vector<double> h = loopsim::path_impulse_response(channel, c.print_count);
        print(resampled ? loopsim::stream_resampled(h) : h, "%zu %.17g\n");
    } else if (print_mode == "--print-response") {
        std::vector<double> level = loopsim::path_response_db(channel);
        for (size_t k = 0; k < level.size(); k++)
            level[k] +=
                20.0 * std::log10(std::max(1e-300, std::abs(through(static_cast<double>(k) * channel.rate / 2048.0))));
        print(level, "%zu %.9f\n");
    } else if (print_mode == "--print-ir-response")
        print(loopsim::path_truncated_response_db(channel, std::min<int64_t>(c.print_count, 2048)), "%zu %.9f\n");
    else if (print_mode == "--print-group-delay")
        std::printf("%.6f\n", loopsim::path_group_delay(channel, c.print_hz) +
                                  (resampled ? static_cast<double>(loopsim::stream_half) : 0.0));
    else if (print_mode == "--print-response-at")
        print_at([&](double hz) { return loopsim::path_response_at(channel, hz) * through(hz); });
    else if (print_mode == "--print-crosstalk-at")
        print_at([&](double hz) { return loopsim::loop_crosstalk_at(lo, hz); });
    else if (print_mode == "--print-distortion")
        print_distortion(lo, channel, c.tones);
    else {
        if (!c.log_name.empty() && !(log_file = std::fopen(c.log_name.c_str(), "w"))) {
            std::fprintf(stderr, "loopsim: cannot write %s: %s\n", c.log_name.c_str(), std::strerror(errno));
            return 2;
        }
        start_delays = c.start_delays, start_delay_base = lo.path.delay;
        for (loopsim::start_line& l : start_lines)
            l = loopsim::start_line_make(loopsim::starts_most(start_delays));
        return run_client(c.name, lo, c.plug);
    }
    return 0;
}
