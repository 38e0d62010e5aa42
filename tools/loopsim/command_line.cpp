// loopsim's command line, read and checked: a refused option named on one line.
#include "tools/loopsim/command_line.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "text/nearest.hpp"

namespace loopsim {

const char* const command_usage =
    "usage: loopsim [options] [--print-ir N | --print-response | --print-ir-response N |\n"
    "                          --print-group-delay HZ | --print-response-at |\n"
    "                          --print-distortion HZ,DBFS[,HZ2,DBFS2] | --print-crosstalk-at]\n"
    "  --name NAME             JACK client name (loopsim)\n"
    "  --cable CLIENT[:OUT[:IN]]  connect CLIENT:out_<OUT-1> -> in and out -> CLIENT:in_<IN-1>\n"
    "                          whenever CLIENT registers them (1:1); OUT, IN may be port names;\n"
    "                          with two channels also out_<OUT> -> in2 and out2 -> in_<IN>\n"
    "  --rate HZ               sample rate of the --print modes (48000; running: the server's)\n"
    "  --delay N               whole frames of delay\n"
    "  --start-delays LIST|MIN-MAX:SEED  an extra delay (whole frames, 0 to 480000) at each start of\n"
    "                          the --cable client, from the list in turn or drawn from the range;\n"
    "                          each start logged: start n=N extra=E delay=D (D: --delay + E)\n"
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
    "                          SHAPE flat (default), capacitive (+6 dB/octave, DB at 1 kHz)\n"
    "                          or cubic (g x^3: DB for a full-scale sine, 2 dB less a dB down)\n"
    "  --ppm PPM               the input side's clock runs PPM fast (negative: slow)\n"
    "  --ppm2 PPM              channel 2's clock runs PPM fast of channel 1's, within +-10\n"
    "  --wander RMS,TAU[,SEED] the clock's offset wanders about PPM: an Ornstein-Uhlenbeck\n"
    "                          process of RMS ppm, correlation time TAU s, from SEED (1)\n"
    "  --clock-log SECONDS     a clock line (the delay's truth) every SECONDS (1 with --wander)\n"
    "  --rate-step SECONDS,PPM (repeatable) the clock's offset steps to PPM, SECONDS after the\n"
    "                          first sound (the wander goes on about it); a clock line there\n"
    "  --polarity-flip SECONDS (repeatable) the capture's polarity flips SECONDS after the first sound\n"
    "  --burst SECONDS,N,DBFS  (repeatable) N frames of white noise of DBFS RMS added to the capture\n"
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

namespace {

// The items of a comma-separated list.
std::vector<std::string> arg_items(const std::string& text)
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
bool arg_numbers(const char* text, std::vector<double>& values, size_t least, size_t most)
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

bool arg_number(const char* text, double& value)
{
    std::vector<double> v;
    if (!arg_numbers(text, v, 1, 1))
        return false;
    value = v[0];
    return true;
}

// A whole number of at most 2^40 in size: larger ones are refused by the checks anyway.
bool arg_whole(double v) { return v == std::nearbyint(v) && std::fabs(v) <= 1099511627776.0; }

bool arg_integer(const char* text, int64_t& value)
{
    double v = 0.0;
    if (!arg_number(text, v) || !arg_whole(v))
        return false;
    value = static_cast<int64_t>(v);
    return true;
}

bool arg_eq(const char* text, eq_kind kind, path_options& o)
{
    std::vector<double> v;
    o.eq = kind;
    if (!arg_numbers(text, v, 3, 3))
        return false;
    o.eq_hz = v[0], o.eq_q = v[1], o.eq_db = v[2];
    return true;
}

// KIND,SECONDS,N[,SIDE]
bool arg_glitch(const char* text, loop_options& o)
{
    const std::vector<std::string> t = arg_items(text);
    glitch g;
    double seconds = 0.0, n = 0.0;
    if ((t.size() != 3 && t.size() != 4) || !glitch_kind_parse(t[0], g.kind) || !arg_number(t[1].c_str(), seconds) ||
        !arg_number(t[2].c_str(), n) || !arg_whole(n) || (t.size() == 4 && !glitch_side_parse(t[3], g.side)))
        return false;
    g.n = static_cast<int64_t>(n);
    o.glitches.push_back(g);
    o.glitch_seconds.push_back(seconds);
    return true;
}

// COUNT,SEED[,SIDE]: one generator for each side (given again for a side, the last counts).
bool arg_glitch_random(const char* text, loop_options& o)
{
    const std::vector<std::string> t = arg_items(text);
    double count = 0.0, seed = 0.0;
    glitch_side side = glitch_side::capture;
    if ((t.size() != 2 && t.size() != 3) || !arg_number(t[0].c_str(), count) || !arg_number(t[1].c_str(), seed) ||
        !arg_whole(seed) || seed < 0.0 || (t.size() == 3 && !glitch_side_parse(t[2], side)))
        return false;
    const bool capture = side == glitch_side::capture;
    (capture ? o.glitch_per_minute : o.playback_glitch_per_minute) = count;
    (capture ? o.glitch_seed : o.playback_glitch_seed) = static_cast<uint64_t>(seed);
    return true;
}

// RMS,TAU[,SEED]
bool arg_wander(const char* text, loop_options& o)
{
    std::vector<double> v;
    if (!arg_numbers(text, v, 2, 3) || (v.size() == 3 && (!arg_whole(v[2]) || v[2] < 0.0)))
        return false;
    o.wander_rms = v[0], o.wander_tau = v[1];
    if (v.size() == 3)
        o.wander_seed = static_cast<uint64_t>(v[2]);
    return true;
}

bool arg_crosstalk(const char* text, loop_options& o)
{
    const std::string t = text;
    const size_t comma = t.find(',');
    if (comma != std::string::npos) {
        const std::string shape = t.substr(comma + 1);
        if (shape != "flat" && shape != "capacitive" && shape != "cubic")
            return false;
        o.shape = shape == "flat"         ? crosstalk_shape::flat
                  : shape == "capacitive" ? crosstalk_shape::capacitive
                                          : crosstalk_shape::cubic;
    }
    return arg_number(t.substr(0, comma).c_str(), o.crosstalk_db);
}

// The options the usage lists: the first word of each line that starts with "  --".
std::vector<std::string> command_options()
{
    std::vector<std::string> names;
    const std::string_view usage = command_usage;
    for (size_t at = usage.find("\n  --"); at != std::string_view::npos; at = usage.find("\n  --", at + 1)) {
        const size_t start = at + 3;
        names.emplace_back(usage.substr(start, usage.find_first_of(" \n", start) - start));
    }
    return names;
}

// An option as the usage writes it, with its value ("--delay N",
// "--glitch KIND,SECONDS,N[,SIDE]"): its name and the next word when that has
// no lower-case letter (the value's); just the name for a flag.
std::string command_form(const std::string& option)
{
    const std::string_view usage = command_usage;
    const std::string key = "\n  " + option + " ";
    const size_t at = usage.find(key);
    if (at == std::string_view::npos)
        return option;
    const size_t start = at + key.size();
    const std::string_view value = usage.substr(start, usage.find_first_of(" \n", start) - start);
    const bool is_value =
        !value.empty() && std::none_of(value.begin(), value.end(), [](char ch) { return ch >= 'a' && ch <= 'z'; });
    return is_value ? option + " " + std::string(value) : option;
}

// Why word is not an option loopsim takes (text: the word after it, if any):
// one it knows missing its value, "--delay=300" for "--delay 300", a word that
// is no option at all, or an unknown one with the nearest options when close.
std::string command_unknown(const std::string& word, const char* text)
{
    const std::vector<std::string> options = command_options();
    const auto known = [&](const std::string& name) {
        return std::find(options.begin(), options.end(), name) != options.end();
    };
    if (known(word) && !text)
        return word + " needs a value: " + command_form(word);
    if (const size_t equals = word.find('='); equals != std::string::npos && known(word.substr(0, equals)))
        return "unknown option " + word + ": write " + word.substr(0, equals) + " " + word.substr(equals + 1) +
               " (a space, not =)";
    if (word.empty() || word[0] != '-')
        return "unexpected " + word + ": not an option, nor the value of one";
    std::string problem = "unknown option " + word;
    const std::vector<std::string> near = nearest_names(word, options);
    if (!near.empty())
        problem += ": did you mean " + nearest_names_list(near) + "?";
    return problem;
}

}  // namespace

command_next command_parse(int argc, char** argv, command& c, std::string& problem)
{
    loop_options& lo = c.loop;
    path_options& o = lo.path;
    std::string &name = c.name, &print_mode = c.print_mode, &log_name = c.log_name;
    int64_t &print_count = c.print_count, &print_channel = c.print_channel;
    double& print_hz = c.print_hz;
    std::vector<double>& tones = c.tones;
    std::vector<double> v;
    bool second_channel = false, clock_log_given = false;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        const char* text = i + 1 < argc ? argv[i + 1] : nullptr;
        bool ok = true, takes_value = true;
        if (a == "--name" && text)
            name = text;
        else if (a == "--cable" && text)
            ok = cable_parse(text, c.plug);
        else if (a == "--rate" && text)
            ok = arg_number(text, o.rate);
        else if (a == "--echo" && text) {
            ok = arg_numbers(text, v, 2, 2) && arg_whole(v[0]);
            if (ok)
                o.echoes.push_back({static_cast<int64_t>(v[0]), v[1]});
        } else if (a == "--dropout-once" && text) {
            ok = arg_numbers(text, v, 2, 2) && v[1] > 0.0;
            if (ok)
                o.dropout_once_s = v[0], o.dropout_once_ms = v[1];
        } else if (a == "--print-group-delay" && text)
            print_mode = a, ok = arg_number(text, print_hz);
        else if ((a == "--print-response-at" || a == "--print-crosstalk-at" || a == "--print-response"))
            print_mode = a, takes_value = false;
        else if (a == "--print-distortion" && text)
            print_mode = a, ok = arg_numbers(text, tones, 2, 4) && tones.size() != 3;
        else if (a == "--print-channel" && text)
            ok = arg_integer(text, print_channel) && (print_channel == 1 || print_channel == 2);
        else if (a == "--delay" && text)
            ok = arg_integer(text, o.delay);
        else if (a == "--fraction" && text)
            ok = arg_number(text, o.fraction);
        else if (a == "--gain" && text)
            ok = arg_number(text, o.gain);
        else if (a == "--invert")
            o.invert = true, takes_value = false;
        else if (a == "--aa" && text) {
            ok = arg_numbers(text, v, 1, 2) && (v.size() == 1 || arg_whole(v[1]));
            if (ok)
                o.aa_cutoff_hz = v[0], o.aa_taps = v.size() == 2 ? static_cast<int64_t>(v[1]) : o.aa_taps;
        } else if (a == "--highpass" && text)
            ok = arg_number(text, o.highpass_hz);
        else if (a == "--peak" && text)
            ok = arg_eq(text, eq_kind::peak, o);
        else if (a == "--low-shelf" && text)
            ok = arg_eq(text, eq_kind::low_shelf, o);
        else if (a == "--high-shelf" && text)
            ok = arg_eq(text, eq_kind::high_shelf, o);
        else if (a == "--noise" && text)
            ok = arg_number(text, o.noise_dbfs);
        else if (a == "--noise-colour" && text) {
            ok = std::strcmp(text, "white") == 0 || std::strcmp(text, "pink") == 0;
            o.colour = std::strcmp(text, "pink") == 0 ? noise_colour::pink : noise_colour::white;
        } else if (a == "--poly" && text)
            ok = arg_numbers(text, lo.poly, 1, poly_max_order - 1);
        else if (a == "--hum" && text) {
            ok = arg_numbers(text, v, 2, 3) && (v.size() == 2 || arg_whole(v[2]));
            if (ok)
                lo.hum_hz = v[0], lo.hum_dbfs = v[1], lo.hum_harmonics = v.size() == 3 ? static_cast<int64_t>(v[2]) : 5;
        } else if (a == "--channels" && text)
            ok = arg_integer(text, lo.channels);
        else if (a == "--gain2-db" && text)
            ok = arg_number(text, lo.gain2_db), second_channel = true;
        else if (a == "--delay2" && text)
            ok = arg_integer(text, lo.delay2), second_channel = true;
        else if (a == "--crosstalk" && text)
            ok = arg_crosstalk(text, lo), second_channel = true;
        else if (a == "--ppm" && text)
            ok = arg_number(text, lo.ppm);
        else if (a == "--ppm2" && text)
            ok = arg_number(text, lo.ppm2), second_channel = true;
        else if (a == "--glitch" && text)
            ok = arg_glitch(text, lo);
        else if (a == "--glitch-random" && text)
            ok = arg_glitch_random(text, lo);
        else if (a == "--struggle-below" && text)
            ok = arg_integer(text, lo.struggle_below);
        else if (a == "--wander" && text)
            ok = arg_wander(text, lo);
        else if (a == "--rate-step" && text) {
            ok = arg_numbers(text, v, 2, 2);
            if (ok)
                lo.rate_steps.push_back({v[0], v[1]});
        } else if (a == "--polarity-flip" && text) {
            double t = 0.0;
            ok = arg_number(text, t);
            if (ok)
                lo.polarity_flips.push_back(t);
        } else if (a == "--burst" && text) {
            ok = arg_numbers(text, v, 3, 3) && arg_whole(v[1]);
            if (ok)
                lo.bursts.push_back({v[0], static_cast<int64_t>(v[1]), v[2]});
        } else if (a == "--clock-log" && text)
            ok = arg_number(text, lo.clock_log_s), clock_log_given = true;
        else if (a == "--dc" && text)
            ok = arg_number(text, lo.dc);
        else if (a == "--log" && text)
            log_name = text;
        else if (a == "--start-delays" && text)
            ok = starts_parse(text, c.start_delays);
        else if (a == "--dropout" && text) {
            ok = arg_numbers(text, v, 2, 2);
            if (ok)
                o.dropout_ms = v[0], o.dropout_every_s = v[1];
        } else if ((a == "--print-ir" || a == "--print-ir-response") && text)
            print_mode = a, ok = arg_integer(text, print_count) && print_count >= 0 && print_count <= (1 << 24);
        else if (a == "--help" || a == "-h")
            return command_next::help;
        else {
            problem = command_unknown(a, text);
            return command_next::refused;
        }
        if (!ok) {
            problem =
                "cannot read " + a + " " + text + ": not of the form " + command_form(a) + ", or a number not finite";
            return command_next::refused;
        }
        if (takes_value)
            i++;
    }
    if (second_channel && lo.channels == 1)
        lo.channels = 2;
    // With a wander, its truth at least every second; asked for, at the interval asked.
    if (lo.wander_rms > 0.0 && !clock_log_given)
        lo.clock_log_s = 1.0;
    // Running, the options are checked at the server's rate once it is known
    // (those that do not depend on it before).
    problem = print_mode.empty() ? loop_check_stream(lo) : loop_check(lo);
    if (problem.empty() && print_channel == 2 && lo.channels != 2)
        problem = "--print-channel 2 needs a second channel";
    return problem.empty() ? command_next::run : command_next::refused;
}

}  // namespace loopsim
