// --buffers as a mode: its options, the latency's and the monitor's
// programs given to the stream once, and its run: at each size the host's
// size set, the stream opened again at it, the latency and its soak run and
// judged, a row; the host's size put back on every way out.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "loopcheck/buffers/buffers.hpp"
#include "loopcheck/latency/latency.hpp"
#include "loopcheck/monitor/monitor.hpp"
#include "loopcheck/options/option_table.hpp"
#include "loopcheck/verdict/verdict.hpp"

namespace {

// clang-format off
constexpr option_row buffers_rows[] = {
    {"--buffers", "LIST|all",
     "at each buffer size in turn (32,64,128, or all: every power of two from 16 to 8192 the host grants) measure "
     "the latency and soak; the size is put back after; each size",
     "For each size: set it, measure the latency as a plain run does (with --repeat, --level, --out and --in), then "
     "play the monitor's stimulus for --soak and count glitches and xruns. On JACK (and PipeWire's JACK face) the "
     "size is the whole server's, set through the JACK API and put back afterwards, after Ctrl-C too; elsewhere "
     "each stream is opened with the size. Ends with the table and the smallest safe buffer (no glitch, no xrun). "
     "Does not go with -b, --monitor, --quality, --limits, --crosstalk, --expect, --response or --ir.", 1.0, 65536.0},
    {"--soak", "SECONDS",
     "how long (in seconds, or 30s, 2m) to play the monitor's stimulus at each size and count glitches and xruns,",
     "A soak checks the loop from some 0.6 s after it starts, once the monitor has found and learnt its stimulus: "
     "a size whose soak checked less than a second says so and is not judged.", 2.0, 3.6e6, "10", "--buffers",
     option_kind::duration},
    {"--load", "PERCENT", "keep the callback busy for this share of every period while soaking, as a DAW's DSP would,",
     "", 0.0, 95.0, "0", "--buffers"},
    {"--max-latency-ms", "MS", "exit status 5 unless a glitch-free size's round trip is at most MS milliseconds,",
     "", 0.001, 10000.0, "", "--buffers"},
};
// clang-format on

// The modes it runs at each size, by their rows.
const mode_row& latency_row()
{
    static const mode_row row = latency_mode();
    return row;
}

// "32,64,128" or "all": whole numbers of frames within the row's range, none twice, at least one.
std::string sizes_read(const std::string& text, buffers_plan& p)
{
    p.sizes.clear();
    p.all = text == "all";
    if (p.all)
        return "";
    const option_row& row = buffers_rows[0];
    const std::string what = " (a list of buffer sizes in frames, " + option_bounds_text(row) + ", or all)";
    if (text.empty())
        return "a list with nothing in it" + what;
    for (size_t from = 0;;) {
        const size_t comma = text.find(',', from);
        const std::string item = text.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        double value = 0.0;
        std::string problem = options_number(item, row.min, row.max, value);
        if (problem.empty() && value != std::floor(value))
            problem = "\"" + item + "\" is not a whole number of frames";
        if (!problem.empty())
            return problem + what;
        const auto size = static_cast<int64_t>(value);
        if (std::find(p.sizes.begin(), p.sizes.end(), size) != p.sizes.end())
            return std::to_string(size) + " named twice";
        p.sizes.push_back(size);
        if (comma == std::string::npos)
            return "";
        from = comma + 1;
    }
}

// --buffers sets the buffer itself and measures the latency and a soak at
// each size: the options that ask for one buffer, one expectation or
// another mode's figures do not go with it.
std::string alone(const option_values& v)
{
    const std::pair<bool, const char*> others[] = {
        {option_given(v, "--buffer"), "-b"},
        {option_given(v, "--monitor"), "--monitor"},
        {option_given(v, "--quality") || option_given(v, "--limits") || option_given(v, "--crosstalk"),
         "--quality, --limits and --crosstalk"},
        {option_given(v, "--expect"), "--expect"},
        {option_given(v, "--response"), "--response"},
        {option_given(v, "--ir"), "--ir"},
    };
    for (const auto& [given, name] : others)
        if (given)
            return std::string("--buffers: ") + name + " does not go with it (each size is its own measurement)";
    return "";
}

std::string buffers_read(const option_values& v, buffers_plan& p, bool& asked)
{
    asked = option_given(v, "--buffers");
    if (asked) {
        const std::string problem = sizes_read(option_text(v, "--buffers"), p);
        if (!problem.empty())
            return "--buffers: " + problem;
    }
    if (option_given(v, "--soak")) {
        // A duration as --monitor takes it (10, 30s, 2m), but never 0 (every
        // size ends) nor so short that the soak would check next to nothing.
        const option_row& row = buffers_rows[1];
        const std::string text = option_text(v, "--soak");
        std::string problem = options_duration(text, p.soak_s);
        if (problem.empty() && (p.soak_s < row.min || p.soak_s > row.max))
            problem = "\"" + text + "\" is outside " + option_bounds_text(row) +
                      " (a soak checks the loop from some 0.6 s after it starts)";
        if (!problem.empty())
            return "--soak: " + problem;
    }
    if (option_given(v, "--load")) {
        const option_row& row = buffers_rows[2];
        const std::string problem = options_number(option_text(v, "--load"), row.min, row.max, p.load_percent);
        if (!problem.empty())
            return "--load: " + problem + " (percent of every period)";
    }
    if (option_given(v, "--max-latency-ms")) {
        const option_row& row = buffers_rows[3];
        const std::string problem =
            options_number(option_text(v, "--max-latency-ms"), row.min, row.max, p.max_latency_ms);
        if (!problem.empty())
            return "--max-latency-ms: " + problem;
    }
    const bool with = option_given(v, "--soak") || option_given(v, "--load") || option_given(v, "--max-latency-ms");
    if (!asked)
        return with ? "--soak, --load and --max-latency-ms go with --buffers" : "";
    // The latency as a plain run measures it at each size (without the
    // report's rows: each size has its row), the soak as a monitor of --soak.
    bool latency_asked = false;
    std::string problem = latency_row().read(v, p.latency, latency_asked);
    std::any_cast<latency_plan&>(p.latency).report = false;
    monitor_plan soak;
    soak.duration_s = p.soak_s, soak.load_percent = p.load_percent;
    p.monitor = soak;
    return problem.empty() ? alone(v) : problem;
}

// The latency's sweeps and the monitor's stimulus, given to the stream once:
// every size's stream plays them.
std::string buffers_prepare(buffers_plan& p, stream& s)
{
    const std::string problem = latency_row().prepare(p.latency, s);
    return problem.empty() ? monitor_prepare(std::any_cast<monitor_plan&>(p.monitor), s) : problem;
}

// The JACK server's size, held from the first size to the end: whatever way
// the sweep leaves by (an exception included), the destructor puts it back.
struct server_hold {
    server_buffer* server = nullptr;
    buffers_outcome* out = nullptr;
    ~server_hold() { release(); }
    void release()
    {
        if (!server)
            return;
        const int64_t original = server_buffer_original(server);
        const std::string problem = server_buffer_close(std::exchange(server, nullptr));
        out->restored = problem.empty(), out->restore_problem = problem, out->original = original;
    }
};

// The host set to size: "" and the server's size then (0 where there is no
// server), or the row that says why it was refused.
std::string size_set(server_hold& hold, const buffers_outcome& out, int64_t size, int64_t& server)
{
    if (!hold.server)
        return "";
    std::string problem;
    const int64_t before = server_buffer_size(hold.server);
    server = server_buffer_set(hold.server, size, problem);
    // A size it rounds is measured, granted beside requested; one it ignored is refused.
    if (problem.empty() && server != size && server == before)
        problem = out.server + " stayed at " + std::to_string(server) + " frames";
    return problem;
}

// A size's failure as the sweep's own: the words of its checks that failed.
mode_end size_failure(const buffers_size_run& ran)
{
    std::vector<const mode_judgement*> judged{ran.latency_judged};
    if (ran.soak_judged)
        judged.push_back(ran.soak_judged);
    const check_verdict v = verdict_fold(judged);
    std::string words;
    for (const mode_check& c : v.failed)
        words += (words.empty() ? "" : "; ") + c.words;
    return {true, v.status, words, ""};
}

// One size: the latency on the stream opened at it, then, where the latency
// stands on the cable, the soak. A row, and the size's failure where it was not measured.
buffers_row size_measure(const buffers_plan& p, mode_run& run, int64_t size, int64_t server, mode_end& failed)
{
    mode_run quiet{run.s, run.wait, run.interrupted, run.pace, {}};
    const std::any latency = latency_row().run(p.latency, {}, quiet);
    const mode_judgement latency_judged = latency_row().judge(latency);
    buffers_size_run ran{&latency, &latency_judged, nullptr, nullptr};
    std::any soak;
    mode_judgement soak_judged;
    if (latency_judged.blocks.empty()) {
        mode_prior prior;
        latency_row().hand_on(latency, prior);
        const monitor_outcome seen =
            monitor_run_with(std::any_cast<const monitor_plan&>(p.monitor), prior, quiet, monitor_sink{});
        soak_judged = monitor_judge(seen);
        soak = seen;
        ran.soak = &soak, ran.soak_judged = &soak_judged;
    }
    const buffers_row row = buffers_row_of(ran, size, server, stream_largest_buffer(run.s));
    if (!row.measured)
        failed = size_failure(ran);
    return row;
}

buffers_outcome buffers_run(const buffers_plan& p, const mode_prior&, mode_run& run)
{
    buffers_outcome out;
    out.plan = p;
    out.end.ran = true;
    if (!run.live.json && !run.live.quiet) {
        char line[160];
        std::snprintf(line, sizeof line, "loopcheck: a latency and a %g s soak at each buffer size, about %g s each\n",
                      p.soak_s, p.soak_s + 1.6);
        run.live.warn(line);
    }
    server_hold hold{server_buffer_open(*p.server), &out};
    out.server_wide = hold.server != nullptr;
    out.server = hold.server ? "the JACK server" : "";
    out.original = server_buffer_original(hold.server);
    mode_end first_failure;
    for (const int64_t size : buffers_sizes(p)) {
        if (run.stopped())
            break;
        int64_t server = 0;
        const std::string refused = size_set(hold, out, size, server);
        const std::string unopened = refused.empty() ? stream_reopen(run.s, size) : "";
        buffers_row row;
        row.requested = size, row.granted = server;
        if (!refused.empty()) {
            row.refused = true, row.reason = refused;
        } else if (!unopened.empty()) {
            // In the words the verdict gives a failure of the program's own.
            mode_judgement judged;
            judged.checks.push_back(check_failed("stream", check_status::error, unopened));
            const mode_judgement* const all[] = {&judged};
            row.failure = check_status::error, row.reason = verdict_message(verdict_fold(all));
            first_failure = {true, check_status::error, unopened, ""};
        } else {
            if (out.facts.host_api.empty())
                out.facts = stream_facts_of(run.s);
            mode_end failed;
            row = size_measure(p, run, size, server, failed);
            if (first_failure.failure == check_status::ok && !row.measured)
                first_failure = failed;
        }
        out.rows.push_back(row);
        if (!run.live.json && !run.live.quiet)
            run.live.say(buffers_row_text(out.rows.back()));
        // The stream would not open: the next size would not either.
        if (!unopened.empty())
            break;
    }
    hold.release();
    out.end = buffers_end_of(out, run.stopped(), first_failure);
    return out;
}

}  // namespace

std::span<const option_row> buffers_options() { return buffers_rows; }

std::vector<int64_t> buffers_sizes(const buffers_plan& p)
{
    // Every power of two from 16 to 8192 frames, the span JACK servers and
    // ASIO drivers offer; each row says what was granted.
    if (!p.all)
        return p.sizes;
    std::vector<int64_t> sizes;
    for (int64_t n = 16; n <= 8192; n *= 2)
        sizes.push_back(n);
    return sizes;
}

buffers_row buffers_row_of(const buffers_size_run& ran, int64_t requested, int64_t server, int64_t granted)
{
    const latency_outcome& l = std::any_cast<const latency_outcome&>(*ran.latency);
    buffers_row row;
    row.requested = requested;
    row.rate = l.facts.rate;
    row.granted = server > 0 ? server : granted;
    row.clock = l.clock;
    if (!latency_stands(l)) {
        std::vector<const mode_judgement*> judged{ran.latency_judged};
        if (ran.soak_judged)
            judged.push_back(ran.soak_judged);
        const check_verdict v = verdict_fold(judged);
        const std::string words = verdict_message(v);
        row.failure = v.status;
        row.reason = words.empty() ? std::string(check_status_of(v.status).text) : words;
        return row;
    }
    // The latency's figures, as the plain run reports them.
    const run_statistics s = latency_statistics(l);
    row.measured = true;
    row.latency_frames = s.mean, row.uncertainty_frames = s.uncertainty;
    row.runs = static_cast<int64_t>(l.measured.runs.size());
    row.excess_known = stream_reported_known(l.facts);
    row.excess_frames = row.excess_known ? s.mean - stream_excess_base_frames(l.facts) : 0.0;
    // The soak's counts, where it ran to its end.
    if (!ran.soak) {
        row.reason = "not soaked: it never began";
        return row;
    }
    const monitor_outcome& m = std::any_cast<const monitor_outcome&>(*ran.soak);
    const monitor_progress& p = m.progress;
    if (m.end.ran)
        row.clock = m.clock;  // the stream's life so far: the latency's and the soak's
    const bool whole = m.end.failure != check_status::interrupted && m.end.failure != check_status::error;
    row.soaked = m.end.ran && whole;
    row.found = row.soaked && p.summary.aligned;
    row.soak_s = p.rate > 0.0 ? static_cast<double>(p.summary.frames_checked) / p.rate : 0.0;
    row.judged = row.found && row.soak_s >= buffers_least_checked_s;
    row.by_kind = p.summary.by_kind;
    row.glitches = p.summary.events + p.overruns;
    row.xruns = p.xruns;
    char checked[200];
    std::snprintf(checked, sizeof checked,
                  "not judged: the soak checked %.1f s of the loop, too little to call the size safe (%g s at least)",
                  row.soak_s, buffers_least_checked_s);
    if (!m.end.ran)
        row.reason = "not soaked: " + (m.end.reason.empty() ? std::string("it never began") : m.end.reason);
    else if (!whole)
        row.reason = "the soak ended early: " + m.end.reason;
    else if (!row.found)
        row.reason = "the stimulus never came back recognisably: the loop glitched before the monitor could follow it";
    else if (!row.judged)
        row.reason = checked;
    return row;
}

mode_row buffers_mode()
{
    mode_functions<buffers_plan, buffers_outcome> f;
    f.read = buffers_read, f.prepare = buffers_prepare, f.run = buffers_run, f.judge = buffers_judge;
    f.text = buffers_text, f.quiet = buffers_quiet, f.json = buffers_json, f.html = buffers_html;
    mode_row row = mode_make("buffers", "--buffers", buffers_options(), f);
    row.alone = true, row.keeps_text = true, row.two_clocks = true;
    return row;
}
