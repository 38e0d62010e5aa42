// --reopen as a mode: its option, the latency's program given to the stream
// once, its run over the starts, its judgement and its words.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "loopcheck/io/stream_wait.hpp"
#include "loopcheck/latency/compensation.hpp"
#include "loopcheck/latency/latency.hpp"
#include "loopcheck/options/option_table.hpp"
#include "loopcheck/reopen/reopen.hpp"
#include "loopcheck/report/format.hpp"
#include "loopcheck/verdict/verdict.hpp"

using json = nlohmann::ordered_json;

namespace {

// clang-format off
constexpr option_row reopen_rows[] = {
    {"--reopen", "N",
     "measure the latency at N starts of the stream: the first as opened, then N - 1 times closed and opened again; "
     "each start's round trip, their mean and spread",
     "On ALSA, ASIO and WASAPI each opening restarts the interface; on JACK and PipeWire it is a new client (its "
     "ports registered and connected anew) and the server's device is not restarted: restart the server (or, on "
     "PipeWire, the device's profile) between runs for that. Does not go with --buffers, --monitor, --quality, "
     "--limits, --crosstalk, --idle, --expect, --response or --ir.", 2.0, 1000.0},
};
// clang-format on

const mode_row& latency_row()
{
    static const mode_row row = latency_mode();
    return row;
}

std::string alone(const option_values& v)
{
    const std::pair<bool, const char*> others[] = {
        {option_given(v, "--buffers"), "--buffers"},
        {option_given(v, "--monitor"), "--monitor"},
        {option_given(v, "--quality") || option_given(v, "--limits") || option_given(v, "--crosstalk"),
         "--quality, --limits and --crosstalk"},
        {option_given(v, "--idle"), "--idle"},
        {option_given(v, "--expect"), "--expect"},
        {option_given(v, "--response"), "--response"},
        {option_given(v, "--ir"), "--ir"},
    };
    for (const auto& [given, name] : others)
        if (given)
            return std::string("--reopen: ") + name + " does not go with it (each start is its own measurement)";
    return "";
}

std::string reopen_read(const option_values& v, reopen_plan& p, bool& asked)
{
    asked = option_given(v, "--reopen");
    if (!asked)
        return "";
    const option_row& row = reopen_rows[0];
    double starts = 0.0;
    std::string problem = options_number(option_text(v, "--reopen"), row.min, row.max, starts);
    if (problem.empty() && starts != std::floor(starts))
        problem = "\"" + option_text(v, "--reopen") + "\" is not a whole number of starts";
    if (!problem.empty())
        return "--reopen: " + problem;
    p.starts = static_cast<int64_t>(starts);
    bool latency_asked = false;
    problem = latency_row().read(v, p.latency, latency_asked);
    std::any_cast<latency_plan&>(p.latency).report = false;
    return problem.empty() ? alone(v) : problem;
}

// The latency's sweeps, and the click each start plays first: one frame at the sweeps' peak level on every loop.
std::string reopen_prepare(reopen_plan& p, stream& s)
{
    const std::string problem = latency_row().prepare(p.latency, s);
    if (!problem.empty())
        return problem;
    const latency_plan& l = std::any_cast<const latency_plan&>(p.latency);
    p.rate = stream_facts_of(s).rate, p.max_delay_s = l.max_delay_s;
    const float click[] = {static_cast<float>(std::pow(10.0, l.level_dbfs / 20.0))};
    p.click_clip = stream_clip_add(s, stream_clip_loops(click, stream_facts_of(s).loops));
    return "";
}

// One start: the latency on the stream as it stands, quietly.
reopen_start start_measure(const reopen_plan& p, mode_run& run)
{
    reopen_start start;
    const reopen_first first = reopen_first_heard(run.s, p, run.wait);
    start.first_heard_frames = first.frames, start.first_failure = first.failure;
    mode_run quiet{run.s, run.wait, run.interrupted, run.pace, {}};
    const std::any ran = latency_row().run(p.latency, {}, quiet);
    const latency_outcome& l = std::any_cast<const latency_outcome&>(ran);
    start.open_ms = stream_open_to_first_callback_ms(run.s);
    start.buffer = stream_largest_buffer(run.s);
    if (!latency_stands(l)) {
        const mode_judgement judged = latency_row().judge(ran);
        const mode_judgement* const all[] = {&judged};
        start.failure = verdict_message(verdict_fold(all));
        if (start.failure.empty())
            start.failure = l.end.reason.empty() ? "not measured" : l.end.reason;
        return start;
    }
    const run_statistics s = latency_statistics(l);
    start.measured = true;
    start.latency_frames = s.mean, start.uncertainty_frames = s.uncertainty;
    return start;
}

std::string start_text(const reopen_start& s, size_t i, double rate)
{
    char line[320];
    if (!s.measured) {
        std::snprintf(line, sizeof line, "start %zu: not measured: %s\n", i + 1, s.failure.c_str());
        return line;
    }
    return "start " + std::to_string(i + 1) + ": latency " +
           report_latency_text(s.latency_frames, s.uncertainty_frames) + " frames (" +
           report_figure("%.3f", 1000.0 * s.latency_frames / rate) + " ms)" +
           (s.open_ms >= 0.0 ? " · open to first callback " + report_figure("%.1f", s.open_ms) + " ms" : "") +
           (s.first_heard_frames >= 0
                ? " · first played to first captured " + std::to_string(s.first_heard_frames) + " frames (" +
                      report_figure("%.3f", 1000.0 * static_cast<double>(s.first_heard_frames) / rate) + " ms)"
                : " · first sound not heard: " + s.first_failure) +
           "\n";
}

reopen_outcome reopen_run(const reopen_plan& p, const mode_prior&, mode_run& run)
{
    reopen_outcome out;
    out.plan = p;
    out.end.ran = true;
    out.facts = stream_facts_of(run.s);
    for (int64_t i = 0; i < p.starts && !run.stopped(); i++) {
        if (i > 0) {
            const std::string problem = stream_reopen(run.s, stream_request_of(run.s).buffer);
            if (!problem.empty()) {
                out.end = {true, check_status::error, "start " + std::to_string(i + 1) + ": " + problem, ""};
                return out;
            }
        }
        out.starts.push_back(start_measure(p, run));
        if (!run.live.json && !run.live.quiet)
            run.live.say(start_text(out.starts.back(), out.starts.size() - 1, out.facts.rate));
    }
    if (run.stopped())
        out.end = {true, check_status::interrupted, "interrupted", ""};
    return out;
}

mode_judgement reopen_judge(const reopen_outcome& o)
{
    mode_judgement j;
    check_end(j, "reopen", o.end);
    for (size_t i = 0; i < o.starts.size(); i++)
        if (!o.starts[i].measured) {
            j.checks.push_back(
                check_failed("start " + std::to_string(i + 1), check_status::unstable,
                             "start " + std::to_string(i + 1) + " not measured: " + o.starts[i].failure));
            break;
        }
    const reopen_statistics s = reopen_statistics_of(o.starts);
    if (s.measured > 0) {
        mode_check spread;
        spread.name = "reopen_spread_frames";
        spread.value = s.max - s.min;
        spread.unit = "frames";
        spread.direction = check_direction::lower;
        j.checks.push_back(spread);
    }
    j.blocks = "--reopen takes the stream to itself";
    return j;
}

// The first played frame to its first captured sound over the starts.
std::string heard_text(const reopen_statistics& s, size_t starts, double rate)
{
    if (s.heard == 0)
        return "";
    const auto ms = [rate](double frames) { return report_figure("%.3f", 1000.0 * frames / rate); };
    return "reopen: first played frame to its first captured sound, " + std::to_string(s.heard) + " of " +
           std::to_string(starts) + " starts: mean " + report_figure("%.2f", s.heard_mean) + " frames (" +
           ms(s.heard_mean) + " ms) · min " + report_figure("%.0f", s.heard_min) + " · max " +
           report_figure("%.0f", s.heard_max) + " · spread " + report_figure("%.0f", s.heard_max - s.heard_min) +
           " frames (" + ms(s.heard_max - s.heard_min) + " ms) · sd " + report_figure("%.2f", s.heard_sd) + "\n";
}

// With --compensation: the lines for the middle of the starts' round trips, their spread as the ±.
bool compensation_asked(const reopen_outcome& o)
{
    return std::any_cast<const latency_plan&>(o.plan.latency).compensation;
}
compensation_input compensation_of(const reopen_outcome& o, const reopen_statistics& s)
{
    return compensation_input_of(o.facts, (s.min + s.max) / 2.0, s.max - s.min);
}

std::string compensation_text(const reopen_outcome& o, const reopen_statistics& s)
{
    std::string text;
    if (compensation_asked(o))
        for (const std::string& line : compensation_lines(compensation_of(o, s)))
            text += line;
    return text;
}

std::string reopen_text(const reopen_outcome& o, const mode_judgement&, text_part part)
{
    if (part != text_part::report || !o.end.ran)
        return "";
    const reopen_statistics s = reopen_statistics_of(o.starts);
    if (s.measured == 0)
        return "";
    const double rate = o.facts.rate;
    return "reopen: " + std::to_string(s.measured) + " of " + std::to_string(o.starts.size()) +
           " starts measured · latency mean " + report_figure("%.3f", s.mean) + " frames (" +
           report_figure("%.3f", 1000.0 * s.mean / rate) + " ms) · min " + report_figure("%.3f", s.min) + " · max " +
           report_figure("%.3f", s.max) + " · spread " + report_figure("%.3f", s.max - s.min) + " frames (" +
           report_figure("%.3f", 1000.0 * (s.max - s.min) / rate) + " ms) · sd " + report_figure("%.3f", s.sd) +
           (s.agree ? " · the same at every start within its uncertainty"
                    : " · not the same at every start: a fixed compensation leaves up to the spread") +
           "\n" + heard_text(s, o.starts.size(), rate) + compensation_text(o, s);
}

std::string reopen_quiet(const reopen_outcome& o, check_status)
{
    const reopen_statistics s = reopen_statistics_of(o.starts);
    return s.measured > 0 ? report_figure("%.3f", s.mean) + "\n" : "";
}

void reopen_json(const reopen_outcome& o, const mode_judgement&, json& j)
{
    json starts = json::array();
    for (size_t i = 0; i < o.starts.size(); i++) {
        const reopen_start& s = o.starts[i];
        starts.push_back(
            {{"start", i + 1},
             {"measured", s.measured},
             {"latency_frames", s.measured ? json(s.latency_frames) : json(nullptr)},
             {"latency_uncertainty_frames", s.measured ? json(s.uncertainty_frames) : json(nullptr)},
             {"open_to_first_callback_ms", s.open_ms >= 0.0 ? json(s.open_ms) : json(nullptr)},
             {"buffer", s.buffer},
             {"failure", s.failure},
             {"first_heard_frames", s.first_heard_frames >= 0 ? json(s.first_heard_frames) : json(nullptr)},
             {"first_heard_ms", s.first_heard_frames >= 0
                                    ? json(1000.0 * static_cast<double>(s.first_heard_frames) / o.facts.rate)
                                    : json(nullptr)},
             {"first_heard_failure", s.first_failure}});
    }
    const reopen_statistics s = reopen_statistics_of(o.starts);
    const auto figure = [&s](double v) { return s.measured > 0 ? json(v) : json(nullptr); };
    const auto heard = [&s](double v) { return s.heard > 0 ? json(v) : json(nullptr); };
    j["reopen"] = {{"starts", starts},
                   {"measured", s.measured},
                   {"mean_frames", figure(s.mean)},
                   {"min_frames", figure(s.min)},
                   {"max_frames", figure(s.max)},
                   {"spread_frames", figure(s.max - s.min)},
                   {"sd_frames", figure(s.sd)},
                   {"agree", s.agree},
                   {"first_heard_starts", s.heard},
                   {"first_heard_mean_frames", heard(s.heard_mean)},
                   {"first_heard_min_frames", heard(s.heard_min)},
                   {"first_heard_max_frames", heard(s.heard_max)},
                   {"first_heard_spread_frames", heard(s.heard_max - s.heard_min)},
                   {"first_heard_sd_frames", heard(s.heard_sd)}};
    if (compensation_asked(o) && s.measured > 0)
        j["compensation"] = compensation_json(compensation_of(o, s));
}

// The mean, min, max and sample standard deviation of values (all 0 when there are none).
void spread_of(const std::vector<double>& values, double& mean, double& min, double& max, double& sd)
{
    mean = min = max = sd = 0.0;
    if (values.empty())
        return;
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    min = *low, max = *high;
    for (const double v : values)
        mean += v;
    mean /= static_cast<double>(values.size());
    double ss = 0.0;
    for (const double v : values)
        ss += (v - mean) * (v - mean);
    sd = values.size() > 1 ? std::sqrt(ss / static_cast<double>(values.size() - 1)) : 0.0;
}

}  // namespace

std::span<const option_row> reopen_options() { return reopen_rows; }

reopen_statistics reopen_statistics_of(const std::vector<reopen_start>& starts)
{
    reopen_statistics s;
    std::vector<double> heard;
    const reopen_start *low = nullptr, *high = nullptr;
    std::vector<double> measured;
    for (const reopen_start& r : starts) {
        if (r.measured) {
            measured.push_back(r.latency_frames);
            low = !low || r.latency_frames < low->latency_frames ? &r : low;
            high = !high || r.latency_frames > high->latency_frames ? &r : high;
        }
        if (r.first_heard_frames >= 0)
            heard.push_back(static_cast<double>(r.first_heard_frames));
    }
    s.measured = static_cast<int64_t>(measured.size());
    spread_of(measured, s.mean, s.min, s.max, s.sd);
    if (s.measured > 0)
        s.agree = s.max - s.min <= low->uncertainty_frames + high->uncertainty_frames;
    s.heard = static_cast<int64_t>(heard.size());
    spread_of(heard, s.heard_mean, s.heard_min, s.heard_max, s.heard_sd);
    return s;
}

reopen_first reopen_first_heard(stream& s, const reopen_plan& p, const capture_wait& wait)
{
    reopen_first out;
    const int64_t quiet = capture_quiet_frames(p.rate), past = std::lrint(0.02 * p.rate);
    const int64_t step = std::lrint(0.05 * p.rate), most = std::lrint(p.max_delay_s * p.rate) + past;
    for (out.attempts = 1;; out.attempts++) {
        capture_take take;
        take.clip = p.click_clip, take.lead = quiet, take.quiet = quiet, take.loops = {0};
        take.frames = std::min(step, most), take.most = most;
        std::vector<float> before;
        // Until heard and past frames after it, or every lag looked for captured.
        take.more = [&](const capture_got& got) -> int64_t {
            const int64_t have = static_cast<int64_t>(got.capture[0].size());
            if (before.empty() && !stream_capture_copy(s, got.start - quiet, got.start, 0, before))
                before.clear();
            const first_heard h = first_heard_find(before, got.capture[0]);
            return std::min(most, h.error.empty() ? h.frame + past : have + step);
        };
        const capture_got got = stream_capture(s, take, wait);
        const std::string spoiled = capture_spoiled_by(got);
        const stream_retry next = stream_retry_after(out.attempts, spoiled);
        if (next == stream_retry::again)
            continue;
        if (next == stream_retry::give_up) {
            out.failure = stream_retry_given_up("the first sound", spoiled);
            return out;
        }
        out.heard = first_heard_find(got.quiet[0], got.capture[0]);
        if (!out.heard.error.empty())
            out.failure = out.heard.error + " within " + std::to_string(got.capture[0].size()) + " frames";
        else
            out.frames = out.heard.frame;
        return out;
    }
}

mode_row reopen_mode()
{
    mode_functions<reopen_plan, reopen_outcome> f;
    f.read = reopen_read, f.prepare = reopen_prepare, f.run = reopen_run, f.judge = reopen_judge;
    f.text = reopen_text, f.quiet = reopen_quiet, f.json = reopen_json, f.html = reopen_html;
    mode_row row = mode_make("reopen", "--reopen", reopen_options(), f);
    row.alone = true, row.keeps_text = true;
    return row;
}
