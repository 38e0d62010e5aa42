// loopcheck's options and exit statuses: the rows of the session's own
// options, and what the parser, --help and the man page read of the whole
// table (the mode table puts the modes' rows between them: modes.cpp).
#include "loopcheck/options/option_table.hpp"

#include "text/nearest.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>
#include <vector>

namespace {

// clang-format off
// The options of the session itself: the stream's, before the modes'.
constexpr option_row stream_rows[] = {
    {"-d,--device", "INDEX|NAME",
     "the device for both sides: a unique part of its name as dravik lists it, or its index there",
     "Without it, the chosen host API's first device; on a JACK server that is opened straight on JACK, without "
     "PortAudio, and has no index. Run dravik first: on a machine with a JACK server, index 0 is often ALSA's "
     "\"jack\" plugin, not the server's \"system\" device. The output names the device opened and its host API."},
    {"--in-device", "INDEX|NAME", "the device for the input side", ""},
    {"--out-device", "INDEX|NAME", "the device for the output side", ""},
    {"-r,--rate", "RATE", "sample rate in Hz,", "", 8000.0, 768000.0, "the device's, or the JACK server's", "",
     option_kind::number},
    {"-b,--buffer", "FRAMES",
     "the latency asked of the host API, in frames at the stream's rate (PortAudio's suggested latency: the host "
     "picks its buffer),",
     "The output gives the frames per callback granted.", 1.0, 65536.0, "the host API's low-latency suggestion", "",
     option_kind::whole},
    {"--out", "N[,N...]", "the loops' output channels, counted from 1; the k-th of --out and --in make loop k;",
     "Up to 8 loops; the latency is measured per loop.", 1.0, 256.0, "1"},
    {"--in", "N[,N...]", "the loops' input channels, counted from 1,", "", 1.0, 256.0, "1"},
};

// What the session prints, and where.
constexpr option_row output_rows[] = {
    {"--json", "", "one JSON object on standard output instead of the text, whatever the exit status",
     "A bad option (2) and a file that cannot be written (1) give one too, with the reason in \"message\". With "
     "--monitor, one object a line (JSON Lines): start, glitch, status, summary.", 0.0, 0.0, "", "", option_kind::flag},
    {"--report", "FILE.html", "write a self-contained HTML report with plots, whatever the outcome",
     "The verdict and the key figures with their conditions, the session's conditions (devices, host API, rate, "
     "buffer, date, version), the impulse response with the latency and the next peak marked, every run's latency "
     "with --repeat, and the magnitude and phase response. A run that found no loop shows the impulse response it "
     "saw and why it is not a loop. --quality, --monitor and --buffers add their sections. The page loads nothing "
     "from the network; open it in any browser."},
    {"-q,--quiet", "", "print only the latency in frames (with --monitor: no status lines)", "", 0.0, 0.0, "", "",
     option_kind::flag},
    {"--junit", "FILE.xml", "write the checks as JUnit XML for a CI engine, whatever the outcome",
     "One <testsuite> named after the interface, one <testcase> per check (the loop, the latency against --expect, "
     "each --limits figure, the monitor's glitches and drift, each buffer size): <failure> with loopcheck's words, "
     "<skipped> for a mode asked that did not run; each figure's value, unit, bounds and direction in the suite's "
     "<properties> and the case's <system-out>. It validates against the Jenkins xunit plugin's junit-10.xsd."},
    {"--lava", "FILE", "write the checks as LAVA result lines, NAME pass|fail|skip [MEASUREMENT [UNITS]]",
     "One line a check, for lava-test-case (docs/loopcheck.md has the test definition)."},
    {"--save-baseline", "FILE.json", "write this run's JSON (its figures, their uncertainties, its identity) as a baseline",
     "The object --json prints: any kept result is a baseline."},
    {"--baseline", "FILE.json", "compare this run's figures with a baseline's: exit status 5 where one regressed",
     "Each figure against its tolerance (latency 0.5 frame, THD+N, THD, noise, IMD and dynamic range 1 dB, crosstalk "
     "3 dB, gain 0.1 dB, the response 0.2 dB in each third-octave band; --tolerances sets them), widened to three times the combined uncertainty where that is wider; only a change the worse way "
     "counts. A baseline made on another interface (its environment's key) is refused, status 1."},
    {"--baseline-any", "", "compare with a baseline made on another interface", "", 0.0, 0.0, "", "",
     option_kind::flag},
    {"--tolerances", "FILE.json", "the changes --baseline and --trend allow, and the response's mask",
     "In the --limits file's syntax, a key per figure: {\"thd_n_db\": {\"tolerance\": 2}, \"response_db\": "
     "{\"tolerance\": 0.3, \"bands_hz\": [20, 1000, 10000, 20000]}}. The response's mask is by default ±0.2 dB in "
     "each third-octave band (20-25 Hz ... 16-20 kHz), on each band's mean level re 1 kHz; a band's line names it: "
     "\"regressed: response 10-12.5 kHz -0.48 dB, tolerance 0.20\"."},
    {"--trend", "DIR", "read every result under DIR instead of measuring: each figure over time, per interface",
     "Every *.json file under DIR (its folders too) that is loopcheck's JSON, grouped by its environment's key and "
     "ordered by its time; a point that regressed against its group's first result is marked. With --json the "
     "same as data; without, a line per interface. The HTML page is not made yet."},
    {"--skip-if-no-loop", "", "status skip (77), not a failure, when no loop is found or no device has the name given",
     "For a bench that is not set up (its cable not wired): the harness counts it skipped.", 0.0, 0.0, "", "",
     option_kind::flag},
    {"--exit-protocol", "loopcheck|gnu|kselftest", "the exit statuses' convention,",
     "gnu: 0 pass, 1 a failure, 77 skip, 99 a hard error (a device error, bad options, an interruption), as automake "
     "and meson read them; kselftest: 0 pass, 1 a failure or an error, 4 skip. The JSON's \"exit_status\" stays "
     "loopcheck's own.", 0.0, 0.0, "loopcheck"},
};

// The program's own, after every mode's.
constexpr option_row program_rows[] = {
    {"-h,--help", "", "this text", "", 0.0, 0.0, "", "", option_kind::flag},
    {"--version", "", "the version", "", 0.0, 0.0, "", "", option_kind::flag},
};

constexpr option_exit exits[] = {
    {check_status::ok, "measured", "Measured."},
    {check_status::error, "a PortAudio or device error",
     "A PortAudio or device error, a rate not granted, a channel not present, a stream that delivers no frames "
     "within a second of starting, or an output file that cannot be written."},
    {check_status::bad_options, "bad options", "Bad options, or a bad --limits file: the reason on one line."},
    {check_status::no_loop, "no loop",
     "No loop found, with what may be wrong (an input of digital silence is named), or no loop within --max-delay; "
     "with several loops, the loop is named. With --monitor, also a loop too weak for the monitor (a gain below "
     "-80 dB): it is refused before the stimulus plays."},
    {check_status::unstable, "unstable",
     "Unstable: the repeats disagree by more than 0.5 frame, or a run and its two retries were spoiled by a "
     "dropout (with --quality, a segment of the battery or its sweep too)."},
    {check_status::outside_expected, "outside --expect, --limits, a --monitor limit, --max-latency-ms or the --baseline",
     "--expect given and the latency outside it, or --limits given and a figure outside its limits (named on the "
     "last line, and in \"limits\" in the JSON); with --monitor, more glitches than --max-glitches or a drift beyond "
     "--max-drift; with --buffers, no glitch-free size within --max-latency-ms; with --baseline, a figure that "
     "regressed (a line each: \"regressed: thd_n_db -96.2 → -93.1 dB, tolerance 1\")."},
    {check_status::monitor_input, "input is an output's monitor",
     "The input is an output's monitor (PipeWire's JACK face lists a sink's monitor ports as its device's inputs): "
     "measured and printed, but not the cable; no battery is played. --allow-monitor makes it 0."},
    {check_status::glitches, "glitches found", "With --monitor: glitches found (or the stimulus never recognised)."},
    {check_status::skipped, "skipped",
     "With --skip-if-no-loop: no loop found, or no device of the name given (the bench not set up)."},
    {check_status::interrupted, "interrupted",
     "Ended by Ctrl-C, SIGTERM or SIGHUP (a --monitor 0 run ends with its summary and the status of what it "
     "found)."},
};
// clang-format on

// The names of a row, one by one: "-d,--device" gives "-d" and "--device".
std::vector<std::string> names_of(const option_row& row)
{
    std::vector<std::string> names;
    std::string all = row.names;
    for (size_t from = 0;;) {
        const size_t comma = all.find(',', from);
        names.push_back(all.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
        if (comma == std::string::npos)
            return names;
        from = comma + 1;
    }
}

// A number as a user writes it: "0.05", "768000", "-12".
std::string number_text(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// Words wrapped to width, each line after the first indented by indent.
std::string wrapped(const std::string& words, size_t indent, size_t first_column, size_t width)
{
    std::string out, line;
    size_t column = first_column;
    for (size_t from = 0; from < words.size();) {
        size_t space = words.find(' ', from);
        if (space == std::string::npos)
            space = words.size();
        const std::string word = words.substr(from, space - from);
        from = space + 1;
        if (!line.empty() && column + line.size() + 1 + word.size() > width) {
            out += line + "\n" + std::string(indent, ' ');
            line.clear(), column = indent;
        }
        line += (line.empty() ? "" : " ") + word;
    }
    return out + line;
}

// "-d, --device INDEX|NAME"
std::string heading(const option_row& row)
{
    std::string text;
    for (const std::string& name : names_of(row))
        text += (text.empty() ? "" : ", ") + name;
    return row.value[0] ? text + " " + row.value : text;
}

// The man page's markup: option names bold, the rest escaped for scdoc.
std::string man_escaped(std::span<const option_row> rows, const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        const char c = text[i];
        const bool starts_word = i == 0 || text[i - 1] == ' ' || text[i - 1] == '(';
        if (c == '-' && starts_word && i + 1 < text.size() &&
            (text[i + 1] == '-' || std::isalpha(static_cast<unsigned char>(text[i + 1])))) {
            size_t end = i + 1;
            while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '-'))
                end++;
            const std::string word = text.substr(i, end - i);
            if (option_row_of(rows, word)) {
                out += "*" + word + "*";
                i = end - 1;
                continue;
            }
        }
        if (c == '_' || c == '*' || c == '\\' || c == '[' || c == ']')
            out += '\\';
        out += c;
    }
    return out;
}

// "*-d*, *--device* _INDEX_|_NAME_": names bold, the value's words underlined.
std::string man_heading(const option_row& row, const char* between = ", ")
{
    std::string text;
    for (const std::string& name : names_of(row))
        text += (text.empty() ? "*" : between + std::string("*")) + name + "*";
    if (!row.value[0])
        return text;
    text += " ";
    for (const char* c = row.value; *c;) {
        if (std::isalpha(static_cast<unsigned char>(*c)) || *c == '.') {
            std::string word;
            for (; *c && (std::isalnum(static_cast<unsigned char>(*c)) || *c == '.'); c++)
                word += *c;
            text += word == "all" ? "*all*" : "_" + word + "_";
        } else {
            text += *c == '[' || *c == ']' ? std::string("\\") + *c : std::string(1, *c);
            c++;
        }
    }
    return text;
}

}  // namespace

std::span<const option_row> option_stream_rows() { return stream_rows; }
std::span<const option_row> option_output_rows() { return output_rows; }
std::span<const option_row> option_program_rows() { return program_rows; }

std::span<const option_exit> option_exits() { return exits; }

const option_row* option_row_of(std::span<const option_row> rows, const std::string& name)
{
    for (const option_row& row : rows)
        for (const std::string& n : names_of(row))
            if (n == name)
                return &row;
    return nullptr;
}

std::string option_bounds_text(const option_row& row)
{
    // A duration's range in the units a person reads it in: "2 s to 1000 h".
    const auto shown = [&row](double value) {
        if (row.kind != option_kind::duration)
            return number_text(value);
        return value >= 3600.0 ? number_text(value / 3600.0) + " h" : number_text(value) + " s";
    };
    return row.max > row.min ? shown(row.min) + " to " + shown(row.max) : "";
}

std::string option_range_text(const option_row& row)
{
    std::string text = option_bounds_text(row);
    if (row.fallback[0])
        text += (text.empty() ? "(default " : " (default ") + std::string(row.fallback) + ")";
    return text;
}

std::string option_synopsis(std::span<const option_row> rows)
{
    // One item per option; the options that go with another inside its brackets.
    std::vector<std::string> items;
    std::string host;
    for (const option_row& row : rows) {
        const std::vector<std::string> names = names_of(row);
        if (names[0] == "-h" || names[0] == "--version")
            continue;
        std::string item = "[";
        for (size_t i = 0; i < names.size(); i++)
            item += (i ? "|" : "") + names[i];
        item += row.value[0] ? " " + std::string(row.value) + "]" : "]";
        if (row.within[0] && row.within == host)
            items.back().insert(items.back().size() - 1, " " + item);
        else
            items.push_back(item), host = names.back();
    }
    std::string out, line = "usage: loopcheck";
    for (const std::string& item : items) {
        if (line.size() + 1 + item.size() > 110)
            out += line + "\n", line = std::string(16, ' ');
        line += " " + item;
    }
    return out + line + "\n       loopcheck -h|--help|--version\n";
}

std::string option_help_text(std::span<const option_row> rows)
{
    constexpr size_t column = 31, width = 110;
    std::string out =
        "Measures the round-trip latency, gain, polarity and response of an audio interface's loop (an output\n"
        "cabled back to an input) by a sweep, and ends with an exit status a script can test. Run dravik first to\n"
        "see the devices.\n\n";
    for (const option_row& row : rows) {
        std::string left = "  " + heading(row);
        std::string words = row.help;
        const std::string range = option_range_text(row);
        if (!range.empty())
            words += " " + range;
        if (row.within[0])
            words = "with " + std::string(row.within) + ": " + words;
        if (left.size() + 1 > column)
            out += left + "\n", left.clear();
        left.resize(column, ' ');
        out += left + wrapped(words, column, column, width) + "\n";
    }
    std::string line;
    for (const option_exit& e : exits)
        line += (line.empty() ? "" : ", ") + std::to_string(check_status_of(e.status).exit_code) + " " + e.help;
    return out + "\nExit status: " + wrapped(line + ". More: man loopcheck.", 0, 13, width) + "\n";
}

std::string option_man_synopsis(std::span<const option_row> rows)
{
    // The items as the synopsis of --help groups them, a few to a line; the
    // line's length counted without the markup.
    std::vector<std::string> items;
    std::vector<size_t> widths;
    std::string host;
    for (const option_row& row : rows) {
        const std::vector<std::string> names = names_of(row);
        if (names[0] == "-h" || names[0] == "--version")
            continue;
        const std::string item = "\\[" + man_heading(row, "|") + "]";
        const size_t width = heading(row).size() + 2;
        if (row.within[0] && row.within == host) {
            items.back().insert(items.back().size() - 1, " " + item);
            widths.back() += width + 1;
        } else {
            items.push_back(item), widths.push_back(width), host = names.back();
        }
    }
    std::string out = "*loopcheck*";
    size_t column = 9;
    for (size_t i = 0; i < items.size(); i++) {
        if (column + 1 + widths[i] > 72)
            out += " ++\n\t", column = 8;
        else
            out += " ", column++;
        out += items[i], column += widths[i];
    }
    return out + "\n\n*loopcheck* *-h*|*--help*|*--version*\n";
}

std::string option_man_options(std::span<const option_row> rows)
{
    std::string out;
    for (const option_row& row : rows) {
        std::string words = row.help;
        words[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(words[0])));
        const std::string range = option_range_text(row);
        if (!range.empty())
            words += " " + range;
        if (row.within[0])
            words = "With " + std::string(row.within) + ": " + row.help + (range.empty() ? "" : " " + range);
        words += ".";
        if (row.more[0])
            words += " " + std::string(row.more);
        out += man_heading(row) + "\n\t" + man_escaped(rows, words) + "\n\n";
    }
    return out;
}

std::string option_man_exits(std::span<const option_row> rows)
{
    std::string out;
    int last = -1;
    for (const option_exit& e : exits) {
        const int code = check_status_of(e.status).exit_code;
        if (code == last)
            continue;
        last = code;
        out += "*" + std::to_string(code) + "*\n\t" + man_escaped(rows, e.more) + "\n\n";
    }
    return out;
}

std::string option_nearest(std::span<const option_row> rows, const std::string& name)
{
    std::vector<std::string> names;
    for (const option_row& row : rows)
        for (const std::string& n : names_of(row))
            if (n.size() > 2)  // a letter's option is never what a longer slip meant
                names.push_back(n);
    const std::vector<std::string> near = nearest_names(name, names);
    return near.empty() ? "" : near.front();
}
