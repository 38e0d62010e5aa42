// Options by CLI11, checked for range.
#include "loopcheck/options.hpp"

#include <CLI/CLI.hpp>
#include <cstdio>

#ifndef LOOPCABLE_VERSION
#error "LOOPCABLE_VERSION is the project's version, which CMake defines"
#endif

const char* const options_usage =
    "usage: loopcheck [-d INDEX|NAME] [--in-device INDEX|NAME] [--out-device INDEX|NAME] [-r RATE] [-b FRAMES]\n"
    "                 [--out N] [--in N] [--level DBFS] [--repeat N] [--max-delay SECONDS] [--settle SECONDS]\n"
    "                 [--expect FRAMES[:TOLERANCE]] [--json] [--response FILE.csv] [--ir FILE.csv] [-q]\n";

namespace {

// FRAMES or FRAMES:TOLERANCE.
std::string expect_read(const std::string& text, check_options& o)
{
    const size_t colon = text.find(':');
    try {
        size_t used = 0;
        o.expect_frames = std::stod(text.substr(0, colon), &used);
        if (used != (colon == std::string::npos ? text.size() : colon))
            return "--expect: not a number of frames: " + text;
        if (colon != std::string::npos) {
            o.expect_tolerance = std::stod(text.substr(colon + 1), &used);
            if (used != text.size() - colon - 1 || o.expect_tolerance < 0.0)
                return "--expect: not a tolerance: " + text;
        }
    } catch (const std::exception&) {
        return "--expect takes FRAMES[:TOLERANCE]: " + text;
    }
    o.expect = true;
    return "";
}

}  // namespace

int options_parse(int argc, char** argv, check_options& o)
{
    CLI::App app{"loopcheck: the round-trip latency, gain and response of an audio interface's loop, measured "
                 "once by a sweep, printed as text or JSON, with an exit status for scripts."};
    app.set_version_flag("--version", "loopcheck " LOOPCABLE_VERSION);
    app.add_option("-d,--device", o.device, "device for both sides: index as dravik lists it, or a unique part of its name")
        ->type_name("INDEX|NAME");
    app.add_option("--in-device", o.in_device, "device of the input side")->type_name("INDEX|NAME");
    app.add_option("--out-device", o.out_device, "device of the output side")->type_name("INDEX|NAME");
    app.add_option("-r,--rate", o.rate, "sample rate in Hz (default: the device's own)")->check(CLI::Range(8000.0, 768000.0));
    app.add_option("-b,--buffer", o.buffer, "frames per buffer asked of the driver (default: its low-latency choice)")
        ->check(CLI::Range(int64_t{1}, int64_t{65536}));
    app.add_option("--out", o.out_channel, "output channel of the loop, from 1 (default 1)")->check(CLI::Range(1, 256));
    app.add_option("--in", o.in_channel, "input channel of the loop, from 1 (default 1)")->check(CLI::Range(1, 256));
    app.add_option("--level", o.level_dbfs, "the sweep's peak level in dBFS (default -12)")->check(CLI::Range(-80.0, 0.0));
    app.add_option("--repeat", o.repeat, "measurements, with statistics over them (default 1)")
        ->check(CLI::Range(int64_t{1}, int64_t{100}));
    app.add_option("--max-delay", o.max_delay_s, "the longest round trip looked for, seconds (default 2, at most 10)")
        ->check(CLI::Range(0.001, 10.0));
    app.add_option("--settle", o.settle_s, "silence before the first sweep, seconds (default 0.1)")->check(CLI::Range(0.0, 10.0));
    std::string expect;
    app.add_option("--expect", expect, "exit status 5 when the latency lies outside FRAMES +- TOLERANCE (default 0.5)")
        ->type_name("FRAMES[:TOLERANCE]");
    app.add_flag("--json", o.json, "one JSON object on standard output");
    app.add_option("--response", o.response_file, "write the magnitude and phase response (a longer sweep: seconds)")
        ->type_name("FILE.csv");
    app.add_option("--ir", o.ir_file, "write the impulse response around its peak")->type_name("FILE.csv");
    app.add_flag("-q,--quiet", o.quiet, "print only the latency in frames");
    try {
        app.parse(argc, argv);
        const std::string problem = expect.empty() ? "" : expect_read(expect, o);
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
