// Options by CLI11, every number checked for being one, finite and in range.
#include "loopcheck/options/options.hpp"

#include "loopcheck/options/option_table.hpp"
#include "loopcheck/options/option_values.hpp"

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
    const option_row* row = option_row_of("--expect");
    std::string problem = options_number(text.substr(0, colon), row->min, row->max, o.expect_frames);
    if (!problem.empty())
        return "--expect: FRAMES " + problem;
    if (colon != std::string::npos) {
        problem = options_number(text.substr(colon + 1), 0.0, row->max, o.expect_tolerance);
        if (!problem.empty())
            return "--expect: TOLERANCE " + problem;
    }
    o.expect = true;
    return "";
}

// A list of channels, "1" or "1,2": whole numbers from 1 to 256, none twice.
std::string channels_read(const std::string& text, const char* option, std::vector<int64_t>& channels)
{
    const option_row* row = option_row_of(option);
    channels.clear();
    size_t from = 0;
    for (;;) {
        const size_t comma = text.find(',', from);
        const std::string item = text.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        double value = 0.0;
        std::string problem = options_number(item, row->min, row->max, value);
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
    o.limits = limits_file_read(o.limits_file);
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

// The check of an option's number against its row's range.
CLI::Validator range_of(const char* name)
{
    const option_row* row = option_row_of(name);
    return number_check(row->min, row->max);
}

// A whole number within its row's range.
CLI::Validator whole_range_of(const char* name)
{
    const option_row* row = option_row_of(name);
    return CLI::Range(static_cast<int64_t>(row->min), static_cast<int64_t>(row->max));
}

// True when text reads in full as a number ("-12", "1e3"): a value, not an option.
bool is_number(const std::string& text)
{
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return !text.empty() && end != text.c_str() && *end == '\0';
}

// True when a word of the command line is one of the options (with its value attached or not).
bool option_named(const std::string& word)
{
    if (word.size() < 2 || word[0] != '-' || is_number(word))
        return false;
    return option_row_of(word[1] == '-' ? word.substr(0, word.find('=')) : word.substr(0, 2)) != nullptr;
}

// "--repaet is not an option; did you mean --repeat?"
std::string not_an_option(const std::string& name)
{
    const std::string nearest = option_nearest(name);
    return name + " is not an option" + (nearest.empty() ? "" : "; did you mean " + nearest + "?");
}

// The first word of the command line that looks like an option and is none,
// before CLI11 reads it its own way ("-repeat 3" would be -r "epeat", and an
// unknown long option only "an argument not expected"); "" when every one is
// known. A known option's value is skipped, negative numbers included.
std::string unknown_option(int argc, char** argv)
{
    for (int i = 1; i < argc; i++) {
        const std::string word = argv[i];
        if (word == "--")
            return "";
        if (word.size() < 2 || word[0] != '-' || is_number(word))
            continue;
        const bool long_name = word[1] == '-';
        const std::string name = long_name ? word.substr(0, word.find('=')) : word.substr(0, 2);
        const option_row* row = option_row_of(name);
        if (!row)
            return not_an_option(long_name ? name : word);
        // A long name with one dash ("-repeat") is a slip, not -r with "epeat" attached.
        if (!long_name && word.size() > 2 && option_row_of("-" + word) != nullptr)
            return not_an_option(word);
        if (!long_name && word.size() > 2 && !row->value[0])
            return not_an_option(word);
        const bool attached = long_name ? word.find('=') != std::string::npos : word.size() > 2;
        if (row->value[0] && attached && word.back() == '=')
            return name + " needs a value: " + row->value;
        if (!row->value[0] || attached)
            continue;
        // The value is the next word, unless there is none, it is empty
        // (--limits "" would be no limits at all), or it is an option itself.
        const bool next_is_option = i + 1 < argc && option_named(argv[i + 1]);
        if (i + 1 == argc || next_is_option || argv[i + 1][0] == '\0')
            return name + " needs a value: " + row->value;
        i++;
    }
    return "";
}

}  // namespace

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
    app.add_option("-r,--rate", o.rate)->check(range_of("--rate"));
    app.add_option("-b,--buffer", o.buffer)->check(whole_range_of("--buffer"));
    std::string out = "1", in = "1";
    app.add_option("--out", out);
    app.add_option("--in", in);
    app.add_option("--level", o.level_dbfs)->check(range_of("--level"));
    app.add_option("--repeat", o.repeat)->check(whole_range_of("--repeat"));
    app.add_option("--max-delay", o.max_delay_s)->check(range_of("--max-delay"));
    app.add_option("--settle", o.settle_s)->check(range_of("--settle"));
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
        const std::string unknown = unknown_option(argc, argv);
        if (!unknown.empty())
            throw CLI::ValidationError(unknown);
        app.parse(argc, argv);
        if (help) {
            std::fputs((option_synopsis() + "\n" + option_help_text()).c_str(), stdout);
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
        std::fprintf(stderr, "loopcheck: %s\n%s\n", e.what(), options_see_help);
        return options_next::refused;
    }
    return options_next::measure;
}
