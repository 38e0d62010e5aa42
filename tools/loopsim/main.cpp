// loopsim: a JACK client that stands between a program's output and its input
// the way an audio interface does (converter filters, gain, noise, dropouts),
// and prints the path's true response for checking a measurement against it.
//
//   loopsim [OPTIONS]            runs as JACK client "loopsim" (ports in, out),
//                                its filters designed for the server's rate
//   loopsim [OPTIONS] [--rate HZ] --print-ir N | --print-response | --print-ir-response N
//                                | --print-group-delay HZ | --print-response-at
//
// Ends on SIGINT or SIGTERM. Prints nothing while it runs.
#include <jack/jack.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/loopsim/cable.hpp"
#include "tools/loopsim/path.hpp"

namespace {

const char* usage =
    "usage: loopsim [options] [--print-ir N | --print-response | --print-ir-response N |\n"
    "                          --print-group-delay HZ | --print-response-at]\n"
    "  --name NAME             JACK client name (loopsim)\n"
    "  --cable CLIENT[:OUT[:IN]]  connect CLIENT:out_<OUT-1> -> in and out -> CLIENT:in_<IN-1>\n"
    "                          whenever CLIENT registers them (1:1); OUT, IN may be port names\n"
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
    "  --noise DBFS            white noise of this RMS level, dB re full scale\n"
    "  --dropout MS,SECONDS    MS milliseconds of zeros at the end of every SECONDS\n"
    "  --dropout-once SECONDS,MS  MS milliseconds of zeros SECONDS after the first sound\n"
    "  --echo OFFSET,DB        a copy of the input, delayed by the whole delay + OFFSET\n"
    "                          frames, at DB re the gain (up to 4 times)\n"
    "  --print-ir N            print the first N taps of the impulse response\n"
    "  --print-response        print |H| in dB at bins 0..1023 (rate / 2048 apart)\n"
    "  --print-ir-response N   print |DFT| in dB of the first N taps, bins 0..1023\n"
    "  --print-group-delay HZ  print the group delay at HZ in frames, whole delay included\n"
    "  --print-response-at     read HZ per line from stdin, print HZ LEVEL_DB PHASE_DEG\n";

jack_port_t* in_port = nullptr;
jack_port_t* out_port = nullptr;
loopsim::path sim;

// Real time: reads and writes preallocated memory only.
int process(jack_nframes_t frames, void*)
{
    const auto* in = static_cast<const float*>(jack_port_get_buffer(in_port, frames));
    auto* out = static_cast<float*>(jack_port_get_buffer(out_port, frames));
    // A non-finite sample would stay in the sections' state for good; it counts as silence.
    for (jack_nframes_t i = 0; i < frames; i++)
        out[i] = static_cast<float>(loopsim::path_process(sim, std::isfinite(in[i]) ? in[i] : 0.0f));
    return 0;
}

bool parse_eq(const char* text, loopsim::eq_kind kind, loopsim::path_options& o)
{
    o.eq = kind;
    return std::sscanf(text, "%lf,%lf,%lf", &o.eq_hz, &o.eq_q, &o.eq_db) == 3;
}

void print(const std::vector<double>& values, const char* format)
{
    for (size_t i = 0; i < values.size(); i++)
        std::printf(format, i, values[i]);
}

// Reads frequencies one per line (or separated by blanks) and prints the
// linear part's level and phase (whole delay included, in (-180, 180]) at each.
void print_response_at(const loopsim::path_options& o)
{
    char token[64];
    while (std::scanf("%63s", token) == 1) {
        char* end = nullptr;
        const double hz = std::strtod(token, &end);
        if (*end != '\0' || !(hz >= 0.0)) {
            std::fprintf(stderr, "loopsim: not a frequency: %s\n", token);
            continue;
        }
        const std::complex<double> h = loopsim::path_response_at(o, hz);
        std::printf("%s %.9f %.6f\n", token, 10.0 * std::log10(std::max(std::norm(h), 1e-30)),
                    std::arg(h) * 180.0 / M_PI);
    }
}

int run_client(const std::string& name, loopsim::path_options o, const loopsim::cable& cable)
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
    o.rate = jack_get_sample_rate(client);
    const std::string problem = loopsim::path_check(o);
    if (!problem.empty()) {
        std::fprintf(stderr, "loopsim: at the server's %g Hz: %s\n", o.rate, problem.c_str());
        jack_client_close(client);
        return 2;
    }
    sim = loopsim::path_build(o);
    in_port = jack_port_register(client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    out_port = jack_port_register(client, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    if (!in_port || !out_port || jack_set_process_callback(client, process, nullptr) != 0 ||
        !loopsim::cable_watch(client, cable) || jack_activate(client) != 0) {
        std::fprintf(stderr, "loopsim: cannot register or activate\n");
        jack_client_close(client);
        return 1;
    }
    loopsim::cable_serve(client, in_port, out_port, cable, stop);
    jack_deactivate(client);
    jack_client_close(client);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    loopsim::path_options o;
    std::string name = "loopsim", print_mode;
    long long print_count = 0;
    double print_hz = 0.0;
    loopsim::cable cable;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        bool ok = true, takes_value = true;
        if (a == "--name" && v)
            name = v;
        else if (a == "--cable" && v)
            ok = loopsim::cable_parse(v, cable);
        else if (a == "--rate" && v)
            o.rate = std::atof(v);
        else if (a == "--echo" && v) {
            loopsim::echo_options e;
            long long offset = 0;
            ok = std::sscanf(v, "%lld,%lf", &offset, &e.db) == 2;
            e.offset = offset;
            o.echoes.push_back(e);
        } else if (a == "--dropout-once" && v)
            ok = std::sscanf(v, "%lf,%lf", &o.dropout_once_s, &o.dropout_once_ms) == 2 && o.dropout_once_ms > 0.0;
        else if (a == "--print-group-delay" && v)
            print_mode = a, print_hz = std::atof(v);
        else if (a == "--print-response-at")
            print_mode = a, takes_value = false;
        else if (a == "--delay" && v)
            o.delay = std::atoll(v);
        else if (a == "--fraction" && v)
            o.fraction = std::atof(v);
        else if (a == "--gain" && v)
            o.gain = std::atof(v);
        else if (a == "--invert")
            o.invert = true, takes_value = false;
        else if (a == "--aa" && v) {
            long long taps = o.aa_taps;
            ok = std::sscanf(v, "%lf,%lld", &o.aa_cutoff_hz, &taps) >= 1;
            o.aa_taps = taps;
        } else if (a == "--highpass" && v)
            o.highpass_hz = std::atof(v);
        else if (a == "--peak" && v)
            ok = parse_eq(v, loopsim::eq_kind::peak, o);
        else if (a == "--low-shelf" && v)
            ok = parse_eq(v, loopsim::eq_kind::low_shelf, o);
        else if (a == "--high-shelf" && v)
            ok = parse_eq(v, loopsim::eq_kind::high_shelf, o);
        else if (a == "--noise" && v)
            o.noise_dbfs = std::atof(v);
        else if (a == "--dropout" && v)
            ok = std::sscanf(v, "%lf,%lf", &o.dropout_ms, &o.dropout_every_s) == 2;
        else if ((a == "--print-ir" || a == "--print-ir-response") && v)
            print_mode = a, print_count = std::atoll(v);
        else if (a == "--print-response")
            print_mode = a, takes_value = false;
        else {
            std::fputs(usage, a == "--help" || a == "-h" ? stdout : stderr);
            return a == "--help" || a == "-h" ? 0 : 2;
        }
        if (!ok) {
            std::fprintf(stderr, "loopsim: cannot read %s %s\n%s", argv[i], v, usage);
            return 2;
        }
        if (takes_value)
            i++;
    }
    // Running, the options are checked at the server's rate once it is known.
    const std::string problem = print_mode.empty() ? "" : loopsim::path_check(o);
    if (!problem.empty()) {
        std::fprintf(stderr, "loopsim: %s\n", problem.c_str());
        return 2;
    }
    if (print_mode == "--print-ir")
        print(loopsim::path_impulse_response(o, print_count), "%zu %.17g\n");
    else if (print_mode == "--print-response")
        print(loopsim::path_response_db(o), "%zu %.9f\n");
    else if (print_mode == "--print-ir-response")
        print(loopsim::path_truncated_response_db(o, std::min(print_count, 2048LL)), "%zu %.9f\n");
    else if (print_mode == "--print-group-delay")
        std::printf("%.6f\n", loopsim::path_group_delay(o, print_hz));
    else if (print_mode == "--print-response-at")
        print_response_at(o);
    else
        return run_client(name, o, cable);
    return 0;
}
