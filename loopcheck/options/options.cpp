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

// A list of channels, "1" or "1,2": whole numbers from 1 to 256, none twice.
std::string channels_read(const std::string& text, const char* option, std::vector<int64_t>& channels)
{
    const option_row* row = option_row_of(option_stream_rows(), option);
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

// True when text reads in full as a number ("-12", "1e3"): a value, not an option.
bool is_number(const std::string& text)
{
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return !text.empty() && end != text.c_str() && *end == '\0';
}

// True when a word of the command line is one of the options (with its value attached or not).
bool option_named(std::span<const option_row> rows, const std::string& word)
{
    if (word.size() < 2 || word[0] != '-' || is_number(word))
        return false;
    return option_row_of(rows, word[1] == '-' ? word.substr(0, word.find('=')) : word.substr(0, 2)) != nullptr;
}

// "--repaet is not an option; did you mean --repeat?"
std::string not_an_option(std::span<const option_row> rows, const std::string& name)
{
    const std::string nearest = option_nearest(rows, name);
    return name + " is not an option" + (nearest.empty() ? "" : "; did you mean " + nearest + "?");
}

// The first word of the command line that looks like an option and is none,
// before CLI11 reads it its own way ("-repeat 3" would be -r "epeat", and an
// unknown long option only "an argument not expected"); "" when every one is
// known. A known option's value is skipped, negative numbers included.
std::string unknown_option(std::span<const option_row> rows, int argc, char** argv)
{
    for (int i = 1; i < argc; i++) {
        const std::string word = argv[i];
        if (word == "--")
            return "";
        if (word.size() < 2 || word[0] != '-' || is_number(word))
            continue;
        const bool long_name = word[1] == '-';
        const std::string name = long_name ? word.substr(0, word.find('=')) : word.substr(0, 2);
        const option_row* row = option_row_of(rows, name);
        if (!row)
            return not_an_option(rows, long_name ? name : word);
        // A long name with one dash ("-repeat") is a slip, not -r with "epeat" attached.
        if (!long_name && word.size() > 2 && option_row_of(rows, "-" + word) != nullptr)
            return not_an_option(rows, word);
        if (!long_name && word.size() > 2 && !row->value[0])
            return not_an_option(rows, word);
        const bool attached = long_name ? word.find('=') != std::string::npos : word.size() > 2;
        if (row->value[0] && attached && word.back() == '=')
            return name + " needs a value: " + row->value;
        if (!row->value[0] || attached)
            continue;
        // The value is the next word, unless there is none, it is empty
        // (--limits "" would be no limits at all), or it is an option itself.
        const bool next_is_option = i + 1 < argc && option_named(rows, argv[i + 1]);
        if (i + 1 == argc || next_is_option || argv[i + 1][0] == '\0')
            return name + " needs a value: " + row->value;
        i++;
    }
    return "";
}

// The long name a row's value goes under: "--device" of "-d,--device".
std::string long_name_of(const option_row& row)
{
    const std::string names = row.names;
    return names.substr(names.rfind(',') + 1);
}

}  // namespace

options_next options_parse(int argc, char** argv, std::span<const option_row> rows, option_values& values,
                           std::string& refusal)
{
    CLI::App app{"loopcheck"};
    app.set_help_flag();
    bool help = false;
    app.set_version_flag("--version", "loopcheck " LOOPCABLE_VERSION);
    // Every row an option of CLI11's; its value kept as text under its long
    // name, a number of the parser's own checked against the row's range.
    std::vector<std::pair<const option_row*, CLI::Option*>> given;
    for (const option_row& row : rows) {
        const std::string name = long_name_of(row);
        if (name == "--version")
            continue;
        if (name == "--help") {
            app.add_flag(row.names, help);
            continue;
        }
        CLI::Option* option = nullptr;
        if (!row.value[0]) {
            option = app.add_flag(row.names);
        } else {
            option = app.add_option(row.names, values.texts[name]);
            if (row.kind == option_kind::number)
                option->check(number_check(row.min, row.max));
            else if (row.kind == option_kind::whole)
                option->check(CLI::Range(static_cast<int64_t>(row.min), static_cast<int64_t>(row.max)));
        }
        given.push_back({&row, option});
    }
    try {
        const std::string unknown = unknown_option(rows, argc, argv);
        if (!unknown.empty())
            throw CLI::ValidationError(unknown);
        app.parse(argc, argv);
        if (help) {
            std::fputs((option_synopsis(rows) + "\n" + option_help_text(rows)).c_str(), stdout);
            return options_next::shown;
        }
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            app.exit(e);
            return options_next::shown;
        }
        refusal = e.what();
        return options_next::refused;
    }
    for (const auto& [row, option] : given)
        if (option->count() > 0)
            values.given.insert(long_name_of(*row));
    return options_next::measure;
}

std::string options_loops(const option_values& v, std::vector<int64_t>& out, std::vector<int64_t>& in)
{
    // The loops: as many inputs as outputs, each list's first the single loop's.
    std::string problem = channels_read(option_text(v, "--out", "1"), "--out", out);
    if (problem.empty())
        problem = channels_read(option_text(v, "--in", "1"), "--in", in);
    if (problem.empty() && out.size() != in.size())
        problem = "--out names " + std::to_string(out.size()) + " channels and --in " + std::to_string(in.size()) +
                  ": a loop is one of each";
    return problem;
}

std::string options_session(const option_values& v, session_options& o)
{
    o.device = option_text(v, "--device");
    o.in_device = option_text(v, "--in-device");
    o.out_device = option_text(v, "--out-device");
    o.rate = option_number(v, "--rate", 0.0);
    o.buffer = static_cast<int64_t>(option_number(v, "--buffer", 0.0));
    o.json = option_given(v, "--json");
    o.quiet = option_given(v, "--quiet");
    o.report_file = option_text(v, "--report");
    o.junit_file = option_text(v, "--junit");
    o.lava_file = option_text(v, "--lava");
    o.skip_if_no_loop = option_given(v, "--skip-if-no-loop");
    o.save_baseline_file = option_text(v, "--save-baseline");
    o.baseline_file = option_text(v, "--baseline");
    o.baseline_any = option_given(v, "--baseline-any");
    o.tolerances_file = option_text(v, "--tolerances");
    o.trend_dir = option_text(v, "--trend");
    const std::string problem = exit_protocol_read(option_text(v, "--exit-protocol", "loopcheck"), o.protocol);
    return problem.empty() ? options_loops(v, o.out_channels, o.in_channels) : problem;
}
