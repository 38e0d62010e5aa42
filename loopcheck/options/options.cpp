// Options by CLI11, every number checked for being one, finite and in range.
#include "loopcheck/options/options.hpp"

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <utility>

#ifndef LOOPCABLE_VERSION
#error "LOOPCABLE_VERSION is the project's version, which CMake defines"
#endif

const char* const options_usage =
    "usage: loopcheck [-d INDEX|NAME] [--in-device INDEX|NAME] [--out-device INDEX|NAME] [-r RATE] [-b FRAMES]\n"
    "                 [--out N] [--in N] [--level DBFS] [--repeat N] [--max-delay SECONDS] [--settle SECONDS]\n"
    "                 [--expect FRAMES[:TOLERANCE]] [--allow-monitor] [--json] [--response FILE.csv|.frd]\n"
    "                 [--ir FILE.csv|.wav] [--report FILE.html] [--quality] [--limits FILE.json] [-q]\n"
    "                 [--monitor DURATION [--max-glitches N] [--max-drift PPM] [--save-glitches DIR]]\n"
    "                 [--buffers LIST|all [--soak SECONDS] [--load PERCENT] [--max-latency-ms MS]]\n"
    "       loopcheck -h|--help|--version\n";

const char* const options_help =
    "Measures the round-trip latency, gain, polarity and response of an audio interface's loop (an output\n"
    "cabled back to an input) by a sweep, and ends with an exit status a script can test.\n"
    "\n"
    "  -d, --device INDEX|NAME      the device for both sides: its index as dravik lists it, or a unique\n"
    "                               part of its name\n"
    "  --in-device, --out-device INDEX|NAME\n"
    "                               the device for one side\n"
    "  -r, --rate RATE              sample rate in Hz, 8000 to 768000 (default: the device's)\n"
    "  -b, --buffer FRAMES          the latency asked of the host API, in frames at the stream's rate,\n"
    "                               1 to 65536 (PortAudio's suggested latency; the host picks the buffer)\n"
    "  --out N[,N...], --in N[,N...]\n"
    "                               the loops' output and input channels, from 1 (default 1 and 1);\n"
    "                               the k-th of each list make loop k (at most 8 loops)\n"
    "  --level DBFS                 peak level of the sweep, -80 to 0 (default -12)\n"
    "  --repeat N                   measure N times, 1 to 100 (default 1)\n"
    "  --max-delay SECONDS          the longest loop looked for, 0.001 to 10 (default 2)\n"
    "  --settle SECONDS             silence after the stream's first frames, before the first sweep,\n"
    "                               0 to 10 (default 0.05)\n"
    "  --expect FRAMES[:TOLERANCE]  exit status 5 unless the latency lies within TOLERANCE (default 0.5)\n"
    "  --allow-monitor              exit status 0, not 6, when the input is an output's monitor\n"
    "  --json                       one JSON object on standard output instead of the text\n"
    "  --response FILE.csv|.frd     also measure the response with a 0.85 s sweep and write it: FRD\n"
    "                               (REW, VituixCAD) for a name ending .frd, else CSV\n"
    "  --ir FILE.csv|.wav           write the impulse response around its peak: 32-bit float WAV at\n"
    "                               the run's rate for a name ending .wav, else CSV\n"
    "  --report FILE.html           write a self-contained HTML report with plots, whatever the outcome\n"
    "  --quality                    after the latency, measure THD+N, harmonics, noise, dynamic range,\n"
    "                               IMD, gain, response, crosstalk and channel match per loop (9 s)\n"
    "  --limits FILE.json           judge the figures against the file's limits (implies --quality)\n"
    "  -q, --quiet                  print only the latency in frames (with --monitor: no status lines)\n"
    "  --monitor DURATION           then play a stimulus for DURATION (30s, 10m, 8h; 0: until Ctrl-C) and\n"
    "                               report every glitch of the loop and the clocks' drift\n"
    "  --max-glitches N             with --monitor: exit status 5 beyond N glitches\n"
    "  --max-drift PPM              with --monitor: exit status 5 when the drift exceeds PPM\n"
    "  --save-glitches DIR          with --monitor: each glitch, 100 ms either side, as a WAV file in DIR\n"
    "  --buffers LIST|all           at each buffer size in turn (32,64,128 or all: every power of two the\n"
    "                               host grants) measure the latency and soak; the size is put back after\n"
    "  --soak SECONDS               with --buffers: play the monitor's stimulus this long at each size and\n"
    "                               count glitches and xruns (default 10)\n"
    "  --load PERCENT               with --buffers: keep the callback busy for this share of every period\n"
    "                               while soaking, 0 to 95 (default 0)\n"
    "  --max-latency-ms MS          with --buffers: exit status 5 unless a glitch-free size's latency is\n"
    "                               at most MS\n"
    "  -h, --help                   this text\n"
    "  --version                    the version\n"
    "\n"
    "Exit status: 0 measured, 1 PortAudio or device error, 2 bad options, 3 no loop, 4 unstable,\n"
    "5 outside --expect, --limits, a --monitor limit or --max-latency-ms, 6 input is an output's monitor, 7 glitches "
    "found,\n"
    "130 interrupted. More: man loopcheck.\n";

namespace {

// A CLI11 check of a real number: finite and within min..max.
CLI::Validator number_check(double min, double max)
{
    return CLI::Validator(
        [min, max](std::string& text) {
            double value = 0.0;
            return options_number(text, min, max, value);
        },
        "", "");
}

// FRAMES or FRAMES:TOLERANCE.
std::string expect_read(const std::string& text, check_options& o)
{
    const size_t colon = text.find(':');
    std::string problem = options_number(text.substr(0, colon), -1e9, 1e9, o.expect_frames);
    if (!problem.empty())
        return "--expect: FRAMES " + problem;
    if (colon != std::string::npos) {
        problem = options_number(text.substr(colon + 1), 0.0, 1e9, o.expect_tolerance);
        if (!problem.empty())
            return "--expect: TOLERANCE " + problem;
    }
    o.expect = true;
    return "";
}

// A list of channels, "1" or "1,2": whole numbers from 1 to 256, none twice.
std::string channels_read(const std::string& text, const char* option, std::vector<int64_t>& channels)
{
    channels.clear();
    size_t from = 0;
    for (;;) {
        const size_t comma = text.find(',', from);
        const std::string item = text.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        double value = 0.0;
        std::string problem = options_number(item, 1.0, 256.0, value);
        if (problem.empty() && value != std::floor(value))
            problem = "\"" + item + "\" is not a whole number";
        if (!problem.empty())
            return std::string(option) + ": " + problem;
        channels.push_back(static_cast<int64_t>(value));
        if (comma == std::string::npos)
            break;
        from = comma + 1;
    }
    if (std::set<int64_t>(channels.begin(), channels.end()).size() != channels.size())
        return std::string(option) + ": a channel named twice";
    if (channels.size() > static_cast<size_t>(options_max_loops))
        return std::string(option) + ": more than " + std::to_string(options_max_loops) + " loops";
    return "";
}

// The loops: as many inputs as outputs, each list's first the single loop's.
std::string loops_read(const std::string& out, const std::string& in, check_options& o)
{
    std::string problem = channels_read(out, "--out", o.out_channels);
    if (problem.empty())
        problem = channels_read(in, "--in", o.in_channels);
    if (problem.empty() && o.out_channels.size() != o.in_channels.size())
        problem = "--out names " + std::to_string(o.out_channels.size()) + " channels and --in " +
                  std::to_string(o.in_channels.size()) + ": a loop is one of each";
    if (!problem.empty())
        return problem;
    o.out_channel = o.out_channels[0], o.in_channel = o.in_channels[0];
    return "";
}

// The limits file, read and checked now, before any device is touched.
std::string limits_read(check_options& o)
{
    std::ifstream file(o.limits_file, std::ios::binary);
    if (!file)
        return "--limits: cannot read " + o.limits_file;
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    o.limits = quality_limits_parse(text);
    if (!o.limits.error.empty())
        return "--limits " + o.limits_file + ": " + o.limits.error;
    o.quality = true;
    return "";
}

// --buffers sets the buffer itself and measures the latency and a soak at
// each size: the options that ask for one buffer, one expectation or
// another mode's figures do not go with it.
std::string sweep_alone(const check_options& o)
{
    if (!o.sweep.on)
        return "";
    const std::pair<bool, const char*> others[] = {
        {o.buffer > 0, "-b"},
        {o.monitor.on, "--monitor"},
        {o.quality, "--quality and --limits"},
        {o.expect, "--expect"},
        {!o.response_file.empty(), "--response"},
        {!o.ir_file.empty(), "--ir"},
    };
    for (const auto& [given, name] : others)
        if (given)
            return std::string("--buffers: ") + name + " does not go with it (each size is its own measurement)";
    return "";
}

}  // namespace

std::string options_number(const std::string& text, double min, double max, double& value)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    value = std::strtod(begin, &end);
    if (text.empty() || end == begin || *end != '\0')
        return "\"" + text + "\" is not a number";
    if (!std::isfinite(value))
        return "\"" + text + "\" is not a finite number";
    if (value < min || value > max) {
        char range[96];
        std::snprintf(range, sizeof range, "%g to %g", min, max);
        return "\"" + text + "\" is outside " + range;
    }
    return "";
}

options_next options_parse(int argc, char** argv, check_options& o)
{
    std::string refusal;
    return options_parse(argc, argv, o, refusal);
}

options_next options_parse(int argc, char** argv, check_options& o, std::string& refusal)
{
    CLI::App app{"loopcheck"};
    app.set_help_flag();
    bool help = false;
    app.add_flag("-h,--help", help);
    app.set_version_flag("--version", "loopcheck " LOOPCABLE_VERSION);
    app.add_option("-d,--device", o.device);
    app.add_option("--in-device", o.in_device);
    app.add_option("--out-device", o.out_device);
    app.add_option("-r,--rate", o.rate)->check(number_check(8000.0, 768000.0));
    app.add_option("-b,--buffer", o.buffer)->check(CLI::Range(int64_t{1}, int64_t{65536}));
    std::string out = "1", in = "1";
    app.add_option("--out", out);
    app.add_option("--in", in);
    app.add_option("--level", o.level_dbfs)->check(number_check(-80.0, 0.0));
    app.add_option("--repeat", o.repeat)->check(CLI::Range(int64_t{1}, int64_t{100}));
    app.add_option("--max-delay", o.max_delay_s)->check(number_check(0.001, 10.0));
    app.add_option("--settle", o.settle_s)->check(number_check(0.0, 10.0));
    std::string expect;
    app.add_option("--expect", expect);
    app.add_flag("--allow-monitor", o.allow_monitor);
    app.add_flag("--json", o.json);
    app.add_option("--response", o.response_file);
    app.add_option("--ir", o.ir_file);
    app.add_option("--limits", o.limits_file);
    app.add_flag("--quality", o.quality);
    app.add_option("--report", o.report_file);
    app.add_flag("-q,--quiet", o.quiet);
    monitor_texts monitor;
    app.add_option("--monitor", monitor.duration);
    app.add_option("--max-glitches", monitor.max_glitches);
    app.add_option("--max-drift", monitor.max_drift);
    app.add_option("--save-glitches", o.monitor.save_dir);
    sweep_texts sweep;
    CLI::Option* buffers = app.add_option("--buffers", sweep.buffers);
    app.add_option("--soak", sweep.soak);
    app.add_option("--load", sweep.load);
    app.add_option("--max-latency-ms", sweep.max_latency);
    try {
        app.parse(argc, argv);
        if (help) {
            std::fputs(options_usage, stdout);
            std::fputs("\n", stdout);
            std::fputs(options_help, stdout);
            return options_next::shown;
        }
        std::string problem = expect.empty() ? "" : expect_read(expect, o);
        if (problem.empty())
            problem = loops_read(out, in, o);
        if (problem.empty() && !o.limits_file.empty())
            problem = limits_read(o);
        if (problem.empty())
            problem = monitor_options_read(monitor, o.monitor);
        sweep.buffers_given = buffers->count() > 0;
        if (problem.empty())
            problem = sweep_options_read(sweep, o.sweep);
        if (problem.empty())
            problem = sweep_alone(o);
        if (!problem.empty())
            throw CLI::ValidationError(problem);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            app.exit(e);
            return options_next::shown;
        }
        refusal = e.what();
        std::fprintf(stderr, "loopcheck: %s\n%s", e.what(), options_usage);
        return options_next::refused;
    }
    return options_next::measure;
}
