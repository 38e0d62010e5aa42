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
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/loopsim/cable.hpp"
#include "tools/loopsim/loop.hpp"

namespace {

const char* usage =
    "usage: loopsim [options] [--print-ir N | --print-response | --print-ir-response N |\n"
    "                          --print-group-delay HZ | --print-response-at |\n"
    "                          --print-distortion HZ,DBFS[,HZ2,DBFS2] | --print-crosstalk-at]\n"
    "  --name NAME             JACK client name (loopsim)\n"
    "  --cable CLIENT[:OUT[:IN]]  connect CLIENT:out_<OUT-1> -> in and out -> CLIENT:in_<IN-1>\n"
    "                          whenever CLIENT registers them (1:1); OUT, IN may be port names;\n"
    "                          with two channels also out_<OUT> -> in2 and out2 -> in_<IN>\n"
    "  --rate HZ               sample rate of the --print modes (48000; running: the server's)\n"
    "  --delay N               whole frames of delay\n"
    "  --fraction F            fractional delay 0 <= F < 1 (windowed sinc, 32 taps)\n"
    "  --gain G                linear gain (1)\n"
    "  --invert                inverted polarity\n"
    "  --aa HZ[,TAPS]          linear-phase low-pass, -6 dB at HZ, TAPS odd (127)\n"
    "  --highpass HZ           first-order DC-blocking high-pass, corner HZ\n"
    "  --peak HZ,Q,DB          peaking EQ section\n"
    "  --low-shelf HZ,Q,DB     low-shelf EQ section\n"
    "  --high-shelf HZ,Q,DB    high-shelf EQ section\n"
    "  --poly A2[,A3,...]      y = x + A2 x^2 + A3 x^3 + ... (to A10), after the linear part\n"
    "  --noise DBFS            noise of this RMS level, dB re 1.0 (full band)\n"
    "  --noise-colour C        white (default) or pink (equal power per octave)\n"
    "  --hum HZ,DBFS[,H]       hum: a sine at HZ, peak DBFS, and harmonics 2..H at 1/k of it (H 5)\n"
    "  --channels N            1 or 2 (ports in2, out2); the options below imply 2\n"
    "  --gain2-db DB           channel 2's gain re channel 1's\n"
    "  --delay2 N              channel 2's delay re channel 1's, whole frames (may be negative)\n"
    "  --crosstalk DB[,SHAPE]  each channel leaks into the other at DB re its linear output;\n"
    "                          SHAPE flat (default) or capacitive (+6 dB/octave, DB at 1 kHz)\n"
    "  --ppm PPM               the input side's clock runs PPM fast (negative: slow)\n"
    "  --wander RMS,TAU[,SEED] the clock's offset wanders about PPM: an Ornstein-Uhlenbeck\n"
    "                          process of RMS ppm, correlation time TAU s, from SEED (1)\n"
    "  --clock-log SECONDS     a clock line (the delay's truth) every SECONDS (1 with --wander)\n"
    "  --glitch KIND,SECONDS,N[,SIDE]  drop, insert (repeat) or zero N frames SECONDS after\n"
    "                          the first sound (repeatable); SIDE capture (the default: the\n"
    "                          recorded stream, after the clock) or playback (the played\n"
    "                          stream, before it); a drop takes its frames from --delay\n"
    "  --glitch-random COUNT,SEED[,SIDE]  COUNT glitches a minute on average on SIDE\n"
    "                          (capture), drawn from SEED; one generator for each side\n"
    "  --struggle-below N      while the server's period is below N frames, insert one period\n"
    "                          on the capture side every second and drop it half a second later\n"
    "  --dc LEVEL              a DC offset added to every output, after everything else\n"
    "  --log FILE              the glitch (and clock) lines to FILE instead of standard output\n"
    "  --dropout MS,SECONDS    MS milliseconds of zeros at the end of every SECONDS\n"
    "  --dropout-once SECONDS,MS  MS milliseconds of zeros SECONDS after the first sound\n"
    "  --echo OFFSET,DB        a copy of the input, delayed by the whole delay + OFFSET\n"
    "                          frames, at DB re the gain (up to 4 times)\n"
    "  --print-channel N       the --print modes describe channel N (1)\n"
    "  --print-ir N            print the first N taps of the impulse response\n"
    "  --print-response        print |H| in dB at bins 0..1023 (rate / 2048 apart)\n"
    "  --print-ir-response N   print |DFT| in dB of the first N taps, bins 0..1023\n"
    "  --print-group-delay HZ  print the group delay at HZ in frames, whole delay included\n"
    "  --print-response-at     read HZ per line from stdin, print HZ LEVEL_DB PHASE_DEG\n"
    "  --print-distortion HZ,DBFS[,HZ2,DBFS2]  for a sine (or two) of peak DBFS played, print\n"
    "                          HZ DBFS P Q of every product at P HZ + Q HZ2 at the output\n"
    "  --print-crosstalk-at    read HZ per line from stdin, print HZ LEVEL_DB PHASE_DEG of\n"
    "                          the crosstalk re the other channel's output\n";

loopsim::cable_ports ports;
loopsim::loop sim;
loopsim::glitch_queue events;
FILE* log_file = stdout;
double log_rate = 48000.0;
bool log_clock = false;

// Real time: reads and writes preallocated memory only. Nothing in the loop is
// sized by the period (it takes one frame at a time), so the server may change
// its buffer size at any time: the new size reaches --struggle-below through
// frames, which JACK makes the whole period on every call.
int process(jack_nframes_t frames, void*)
{
    loopsim::loop_period(sim, static_cast<int64_t>(frames));
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

// The items of a comma-separated list.
std::vector<std::string> items(const std::string& text)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        out.push_back(text.substr(start, comma == std::string::npos ? comma : comma - start));
        if (comma == std::string::npos)
            return out;
        start = comma + 1;
    }
}

// Comma-separated numbers, each all of its text and finite.
bool numbers(const char* text, std::vector<double>& values, size_t least, size_t most)
{
    values.clear();
    const std::string t = text;
    size_t start = 0;
    for (;;) {
        const size_t comma = t.find(',', start);
        const std::string item = t.substr(start, comma == std::string::npos ? comma : comma - start);
        char* end = nullptr;
        const double v = std::strtod(item.c_str(), &end);
        if (item.empty() || *end != '\0' || !std::isfinite(v))
            return false;
        values.push_back(v);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return values.size() >= least && values.size() <= most;
}

bool number(const char* text, double& value)
{
    std::vector<double> v;
    if (!numbers(text, v, 1, 1))
        return false;
    value = v[0];
    return true;
}

// A whole number of at most 2^40 in size: larger ones are refused by the checks anyway.
bool whole(double v) { return v == std::nearbyint(v) && std::fabs(v) <= 1099511627776.0; }

bool integer(const char* text, int64_t& value)
{
    double v = 0.0;
    if (!number(text, v) || !whole(v))
        return false;
    value = static_cast<int64_t>(v);
    return true;
}

bool parse_eq(const char* text, loopsim::eq_kind kind, loopsim::path_options& o)
{
    std::vector<double> v;
    o.eq = kind;
    if (!numbers(text, v, 3, 3))
        return false;
    o.eq_hz = v[0], o.eq_q = v[1], o.eq_db = v[2];
    return true;
}

// KIND,SECONDS,N[,SIDE]
bool parse_glitch(const char* text, loopsim::loop_options& o)
{
    const std::vector<std::string> t = items(text);
    loopsim::glitch g;
    double seconds = 0.0, n = 0.0;
    if ((t.size() != 3 && t.size() != 4) || !loopsim::glitch_kind_parse(t[0], g.kind) ||
        !number(t[1].c_str(), seconds) || !number(t[2].c_str(), n) || !whole(n) ||
        (t.size() == 4 && !loopsim::glitch_side_parse(t[3], g.side)))
        return false;
    g.n = static_cast<int64_t>(n);
    o.glitches.push_back(g);
    o.glitch_seconds.push_back(seconds);
    return true;
}

// COUNT,SEED[,SIDE]: one generator for each side (given again for a side, the last counts).
bool parse_glitch_random(const char* text, loopsim::loop_options& o)
{
    const std::vector<std::string> t = items(text);
    double count = 0.0, seed = 0.0;
    loopsim::glitch_side side = loopsim::glitch_side::capture;
    if ((t.size() != 2 && t.size() != 3) || !number(t[0].c_str(), count) || !number(t[1].c_str(), seed) ||
        !whole(seed) || seed < 0.0 || (t.size() == 3 && !loopsim::glitch_side_parse(t[2], side)))
        return false;
    const bool capture = side == loopsim::glitch_side::capture;
    (capture ? o.glitch_per_minute : o.playback_glitch_per_minute) = count;
    (capture ? o.glitch_seed : o.playback_glitch_seed) = static_cast<uint64_t>(seed);
    return true;
}

// RMS,TAU[,SEED]
bool parse_wander(const char* text, loopsim::loop_options& o)
{
    std::vector<double> v;
    if (!numbers(text, v, 2, 3) || (v.size() == 3 && (!whole(v[2]) || v[2] < 0.0)))
        return false;
    o.wander_rms = v[0], o.wander_tau = v[1];
    if (v.size() == 3)
        o.wander_seed = static_cast<uint64_t>(v[2]);
    return true;
}

bool parse_crosstalk(const char* text, loopsim::loop_options& o)
{
    const std::string t = text;
    const size_t comma = t.find(',');
    if (comma != std::string::npos) {
        const std::string shape = t.substr(comma + 1);
        if (shape != "flat" && shape != "capacitive")
            return false;
        o.shape = shape == "flat" ? loopsim::crosstalk_shape::flat : loopsim::crosstalk_shape::capacitive;
    }
    return number(t.substr(0, comma).c_str(), o.crosstalk_db);
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
        std::fprintf(stderr, "loopsim: at the server's %g Hz: %s\n", o.path.rate, problem.c_str());
        jack_client_close(client);
        return 2;
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
    loopsim::cable_serve(client, ports, cable, stop, drain_events, 20);
    jack_deactivate(client);
    jack_client_close(client);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    loopsim::loop_options lo;
    loopsim::path_options& o = lo.path;
    std::string name = "loopsim", print_mode, log_name;
    int64_t print_count = 0, print_channel = 1;
    double print_hz = 0.0;
    std::vector<double> tones, v;
    bool second_channel = false, clock_log_given = false;
    loopsim::cable cable;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        const char* text = i + 1 < argc ? argv[i + 1] : nullptr;
        bool ok = true, takes_value = true;
        if (a == "--name" && text)
            name = text;
        else if (a == "--cable" && text)
            ok = loopsim::cable_parse(text, cable);
        else if (a == "--rate" && text)
            ok = number(text, o.rate);
        else if (a == "--echo" && text) {
            ok = numbers(text, v, 2, 2) && whole(v[0]);
            if (ok)
                o.echoes.push_back({static_cast<int64_t>(v[0]), v[1]});
        } else if (a == "--dropout-once" && text) {
            ok = numbers(text, v, 2, 2) && v[1] > 0.0;
            if (ok)
                o.dropout_once_s = v[0], o.dropout_once_ms = v[1];
        } else if (a == "--print-group-delay" && text)
            print_mode = a, ok = number(text, print_hz);
        else if ((a == "--print-response-at" || a == "--print-crosstalk-at" || a == "--print-response"))
            print_mode = a, takes_value = false;
        else if (a == "--print-distortion" && text)
            print_mode = a, ok = numbers(text, tones, 2, 4) && tones.size() != 3;
        else if (a == "--print-channel" && text)
            ok = integer(text, print_channel) && (print_channel == 1 || print_channel == 2);
        else if (a == "--delay" && text)
            ok = integer(text, o.delay);
        else if (a == "--fraction" && text)
            ok = number(text, o.fraction);
        else if (a == "--gain" && text)
            ok = number(text, o.gain);
        else if (a == "--invert")
            o.invert = true, takes_value = false;
        else if (a == "--aa" && text) {
            ok = numbers(text, v, 1, 2) && (v.size() == 1 || whole(v[1]));
            if (ok)
                o.aa_cutoff_hz = v[0], o.aa_taps = v.size() == 2 ? static_cast<int64_t>(v[1]) : o.aa_taps;
        } else if (a == "--highpass" && text)
            ok = number(text, o.highpass_hz);
        else if (a == "--peak" && text)
            ok = parse_eq(text, loopsim::eq_kind::peak, o);
        else if (a == "--low-shelf" && text)
            ok = parse_eq(text, loopsim::eq_kind::low_shelf, o);
        else if (a == "--high-shelf" && text)
            ok = parse_eq(text, loopsim::eq_kind::high_shelf, o);
        else if (a == "--noise" && text)
            ok = number(text, o.noise_dbfs);
        else if (a == "--noise-colour" && text) {
            ok = std::strcmp(text, "white") == 0 || std::strcmp(text, "pink") == 0;
            o.colour = std::strcmp(text, "pink") == 0 ? loopsim::noise_colour::pink : loopsim::noise_colour::white;
        } else if (a == "--poly" && text)
            ok = numbers(text, lo.poly, 1, loopsim::poly_max_order - 1);
        else if (a == "--hum" && text) {
            ok = numbers(text, v, 2, 3) && (v.size() == 2 || whole(v[2]));
            if (ok)
                lo.hum_hz = v[0], lo.hum_dbfs = v[1], lo.hum_harmonics = v.size() == 3 ? static_cast<int64_t>(v[2]) : 5;
        } else if (a == "--channels" && text)
            ok = integer(text, lo.channels);
        else if (a == "--gain2-db" && text)
            ok = number(text, lo.gain2_db), second_channel = true;
        else if (a == "--delay2" && text)
            ok = integer(text, lo.delay2), second_channel = true;
        else if (a == "--crosstalk" && text)
            ok = parse_crosstalk(text, lo), second_channel = true;
        else if (a == "--ppm" && text)
            ok = number(text, lo.ppm);
        else if (a == "--glitch" && text)
            ok = parse_glitch(text, lo);
        else if (a == "--glitch-random" && text)
            ok = parse_glitch_random(text, lo);
        else if (a == "--struggle-below" && text)
            ok = integer(text, lo.struggle_below);
        else if (a == "--wander" && text)
            ok = parse_wander(text, lo);
        else if (a == "--clock-log" && text)
            ok = number(text, lo.clock_log_s), clock_log_given = true;
        else if (a == "--dc" && text)
            ok = number(text, lo.dc);
        else if (a == "--log" && text)
            log_name = text;
        else if (a == "--dropout" && text) {
            ok = numbers(text, v, 2, 2);
            if (ok)
                o.dropout_ms = v[0], o.dropout_every_s = v[1];
        } else if ((a == "--print-ir" || a == "--print-ir-response") && text)
            print_mode = a, ok = integer(text, print_count) && print_count >= 0 && print_count <= (1 << 24);
        else if (a == "--help" || a == "-h") {
            std::fputs(usage, stdout);
            return 0;
        } else {
            // A bad option names itself: unknown, or one that needs a value at the end.
            if (!text && std::strncmp(argv[i], "--", 2) == 0 && std::strstr(usage, (a + " ").c_str()))
                std::fprintf(stderr, "loopsim: %s needs a value\n%s", argv[i], usage);
            else
                std::fprintf(stderr, "loopsim: unknown option %s\n%s", argv[i], usage);
            return 2;
        }
        if (!ok) {
            std::fprintf(stderr, "loopsim: cannot read %s %s (not of the form below, or a number not finite)\n%s",
                         argv[i], text ? text : "", usage);
            return 2;
        }
        if (takes_value)
            i++;
    }
    if (second_channel && lo.channels == 1)
        lo.channels = 2;
    // With a wander, its truth at least every second; asked for, at the interval asked.
    if (lo.wander_rms > 0.0 && !clock_log_given)
        lo.clock_log_s = 1.0;
    log_clock = lo.wander_rms > 0.0 || lo.clock_log_s > 0.0;
    // Running, the options are checked at the server's rate once it is known
    // (those that do not depend on it before).
    const std::string problem = print_mode.empty() ? loopsim::loop_check_stream(lo) : loopsim::loop_check(lo);
    if (!problem.empty()) {
        std::fprintf(stderr, "loopsim: %s\n", problem.c_str());
        return 2;
    }
    if (print_channel == 2 && lo.channels != 2) {
        std::fprintf(stderr, "loopsim: --print-channel 2 needs a second channel\n");
        return 2;
    }
    const loopsim::path_options channel = loopsim::loop_channel(lo, print_channel);
    if (print_mode == "--print-ir")
        print(loopsim::path_impulse_response(channel, print_count), "%zu %.17g\n");
    else if (print_mode == "--print-response")
        print(loopsim::path_response_db(channel), "%zu %.9f\n");
    else if (print_mode == "--print-ir-response")
        print(loopsim::path_truncated_response_db(channel, std::min<int64_t>(print_count, 2048)), "%zu %.9f\n");
    else if (print_mode == "--print-group-delay")
        std::printf("%.6f\n", loopsim::path_group_delay(channel, print_hz));
    else if (print_mode == "--print-response-at")
        print_at([&](double hz) { return loopsim::path_response_at(channel, hz); });
    else if (print_mode == "--print-crosstalk-at")
        print_at([&](double hz) { return loopsim::loop_crosstalk_at(lo, hz); });
    else if (print_mode == "--print-distortion")
        print_distortion(lo, channel, tones);
    else {
        if (!log_name.empty() && !(log_file = std::fopen(log_name.c_str(), "w"))) {
            std::fprintf(stderr, "loopsim: cannot write %s: %s\n", log_name.c_str(), std::strerror(errno));
            return 2;
        }
        return run_client(name, lo, cable);
    }
    return 0;
}
