// Options by CLI11, every number checked for being one, finite and in range.
#include "loopcheck/options.hpp"

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#ifndef LOOPCABLE_VERSION
#error "LOOPCABLE_VERSION is the project's version, which CMake defines"
#endif

const char* const options_usage =
    "usage: loopcheck [-d INDEX|NAME] [--in-device INDEX|NAME] [--out-device INDEX|NAME] [-r RATE] [-b FRAMES]\n"
    "                 [--out N] [--in N] [--level DBFS] [--repeat N] [--max-delay SECONDS] [--settle SECONDS]\n"
    "                 [--expect FRAMES[:TOLERANCE]] [--allow-monitor] [--json] [--response FILE.csv]\n"
    "                 [--ir FILE.csv] [-q]\n"
    "                 [--monitor DURATION [--max-glitches N] [--max-drift PPM] [--save-glitches DIR]]\n"
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
    "  --out N, --in N              the loop's output and input channel, from 1 (default 1 and 1)\n"
    "  --level DBFS                 peak level of the sweep, -80 to 0 (default -12)\n"
    "  --repeat N                   measure N times, 1 to 100 (default 1)\n"
    "  --max-delay SECONDS          the longest loop looked for, 0.001 to 10 (default 2)\n"
    "  --settle SECONDS             silence after the stream's first frames, before the first sweep,\n"
    "                               0 to 10 (default 0.05)\n"
    "  --expect FRAMES[:TOLERANCE]  exit status 5 unless the latency lies within TOLERANCE (default 0.5)\n"
    "  --allow-monitor              exit status 0, not 6, when the input is an output's monitor\n"
    "  --json                       one JSON object on standard output instead of the text\n"
    "  --response FILE.csv          also measure the response with a 0.85 s sweep and write it\n"
    "  --ir FILE.csv                write the impulse response around its peak\n"
    "  -q, --quiet                  print only the latency in frames (with --monitor: no status lines)\n"
    "  --monitor DURATION           then play a stimulus for DURATION (30s, 10m, 8h; 0: until Ctrl-C) and\n"
    "                               report every glitch of the loop and the clocks' drift\n"
    "  --max-glitches N             with --monitor: exit status 5 beyond N glitches\n"
    "  --max-drift PPM              with --monitor: exit status 5 when the drift exceeds PPM\n"
    "  --save-glitches DIR          with --monitor: each glitch, 100 ms either side, as a WAV file in DIR\n"
    "  -h, --help                   this text\n"
    "  --version                    the version\n"
    "\n"
    "Exit status: 0 measured, 1 PortAudio or device error, 2 bad options, 3 no loop, 4 unstable,\n"
    "5 outside --expect (or a --monitor limit), 6 input is an output's monitor, 7 glitches found,\n"
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

int options_parse(int argc, char** argv, check_options& o)
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
    app.add_option("--out", o.out_channel)->check(CLI::Range(1, 256));
    app.add_option("--in", o.in_channel)->check(CLI::Range(1, 256));
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
    app.add_flag("-q,--quiet", o.quiet);
    monitor_texts monitor;
    app.add_option("--monitor", monitor.duration);
    app.add_option("--max-glitches", monitor.max_glitches);
    app.add_option("--max-drift", monitor.max_drift);
    app.add_option("--save-glitches", o.monitor.save_dir);
    try {
        app.parse(argc, argv);
        if (help) {
            std::fputs(options_usage, stdout);
            std::fputs("\n", stdout);
            std::fputs(options_help, stdout);
            return 0;
        }
        std::string problem = expect.empty() ? "" : expect_read(expect, o);
        if (problem.empty())
            problem = monitor_options_read(monitor, o.monitor);
        if (!problem.empty())
            throw CLI::ValidationError(problem);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0)
            return app.exit(e);
        std::fprintf(stderr, "loopcheck: %s\n%s", e.what(), options_usage);
        return 2;
    }
    return -1;
}
