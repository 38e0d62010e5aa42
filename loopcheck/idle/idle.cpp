// --idle, top to bottom: its option, its plan, its run on the stream, its
// judgement, its words (text, JSON, the page), and its row.
#include "loopcheck/idle/idle.hpp"

#include <algorithm>
#include <cmath>

#include "loopcheck/options/options.hpp"
#include "loopcheck/report/format.hpp"
#include "loopcheck/report/report_html.hpp"

namespace {

// ---- its option ---------------------------------------------------------------

constexpr option_row idle_rows[] = {
    {"--idle", "", "with the outputs silent, measure each loop's input level (RMS and peak) over half a second",
     "What the input brings of its own before anything is played into it: hiss, hum, a DC offset; the RMS re a "
     "full-scale sine, as the battery's noise. After the latency and --quality, before --monitor.",
     0.0, 0.0, "", "", option_kind::flag},
};

// ---- its plan -------------------------------------------------------------------

std::string idle_read(const option_values& values, idle_plan& plan, bool& asked)
{
    asked = option_given(values, "--idle");
    return options_loops(values, plan.out_channels, plan.in_channels);
}

// Nothing to play: silence is what the stream plays between clips. Only a ring long enough to hold what it hears.
std::string idle_prepare(idle_plan&, stream& s)
{
    stream_ring_need(s, 2 * std::lrint(idle_seconds * stream_facts_of(s).rate));
    return "";
}

// ---- its judgement ----------------------------------------------------------------

// A record of each loop's level: nothing it finds fails the run.
mode_judgement idle_judge(const idle_outcome& o)
{
    mode_judgement j;
    check_end(j, "idle", o.end);
    for (size_t k = 0; k < o.loops.size(); k++) {
        mode_check c;
        c.name = "idle_rms_dbfs loop " + std::to_string(k + 1);
        c.value = o.loops[k].rms_dbfs, c.unit = "dBFS", c.direction = check_direction::lower;
        j.checks.push_back(c);
    }
    return j;
}

// ---- its words --------------------------------------------------------------------

std::string loop_name(const idle_plan& p, size_t k)
{
    return "loop " + std::to_string(k + 1) + " (out " + std::to_string(p.out_channels[k]) + " → in " +
           std::to_string(p.in_channels[k]) + ")";
}

std::string idle_text(const idle_outcome& o, const mode_judgement&, text_part part)
{
    std::string text;
    if (part == text_part::report && o.end.ran)
        for (size_t k = 0; k < o.loops.size(); k++)
            text += "idle, " + loop_name(o.plan, k) + ", outputs silent: RMS " +
                    report_figure("%.1f", o.loops[k].rms_dbfs) + " dBFS, peak " +
                    report_figure("%.1f", o.loops[k].peak_dbfs) + " dBFS over " + report_figure("%.2f", o.seconds) +
                    " s\n";
    return text;
}

void idle_json(const idle_outcome& o, const mode_judgement&, nlohmann::ordered_json& report)
{
    nlohmann::ordered_json loops = nlohmann::ordered_json::array();
    for (size_t k = 0; k < o.loops.size(); k++)
        loops.push_back({{"loop", k + 1},
                         {"output", o.plan.out_channels[k]},
                         {"input", o.plan.in_channels[k]},
                         {"rms_dbfs", o.loops[k].rms_dbfs},
                         {"peak_dbfs", o.loops[k].peak_dbfs},
                         {"seconds", o.seconds}});
    report["idle"] = o.end.ran ? loops : nlohmann::ordered_json(nullptr);
}

void idle_html(report_page& page, const idle_outcome& o, const mode_judgement&, html_part part)
{
    if (part != html_part::sections || !o.end.ran)
        return;
    std::vector<std::pair<std::string, std::string>> table;
    for (size_t k = 0; k < o.loops.size(); k++)
        table.push_back({loop_name(o.plan, k), report_figure("RMS %.1f dBFS", o.loops[k].rms_dbfs) +
                                                   report_figure(", peak %.1f dBFS", o.loops[k].peak_dbfs) +
                                                   report_figure(" — %.2f s, outputs silent", o.seconds)});
    html_heading(page.page, 2, "Idle");
    html_table(page.page, table);
}

// A level in dBFS, re a full-scale sine for an RMS as for the battery's noise
// (AES17: a full-scale sine reads 0 dBFS); -300 for digital silence.
double dbfs(double level) { return level > 0.0 ? 20.0 * std::log10(level) : -300.0; }

}  // namespace

// ---- its run ------------------------------------------------------------------------

idle_outcome idle_run(const idle_plan& plan, const mode_prior&, mode_run& run)
{
    idle_outcome out;
    out.plan = plan;
    out.end.ran = true;
    const double rate = stream_facts_of(run.s).rate;
    capture_take take;
    take.loops.clear();
    for (size_t k = 0; k < plan.out_channels.size(); k++)
        take.loops.push_back(static_cast<int>(k));
    take.frames = std::lrint(idle_seconds * rate);
    // Nothing is scheduled: what comes back from the next safe frame on is the input's own.
    for (int attempt = 1;; attempt++) {
        const capture_got got = stream_capture(run.s, take, run.wait);
        if (run.stopped()) {
            out.end.failure = check_status::interrupted, out.end.reason = "interrupted";
            return out;
        }
        const std::string spoiled = capture_spoiled_by(got);
        const stream_retry next = stream_retry_after(attempt, spoiled);
        if (next == stream_retry::give_up) {
            out.end.failure = check_status::unstable, out.end.reason = stream_retry_given_up("--idle", spoiled);
            return out;
        }
        if (next == stream_retry::again)
            continue;
        out.seconds = static_cast<double>(take.frames) / rate;
        for (const std::vector<float>& heard : got.capture) {
            double sum = 0.0, peak = 0.0;
            for (const float x : heard)
                sum += static_cast<double>(x) * x, peak = std::max(peak, std::fabs(static_cast<double>(x)));
            const double rms = std::sqrt(sum / static_cast<double>(std::max<size_t>(1, heard.size())));
            out.loops.push_back({dbfs(std::sqrt(2.0) * rms), dbfs(peak)});
        }
        return out;
    }
}

// ---- its row --------------------------------------------------------------------------

mode_row idle_mode()
{
    mode_functions<idle_plan, idle_outcome> f;
    f.read = idle_read, f.prepare = idle_prepare, f.run = idle_run, f.judge = idle_judge;
    f.text = idle_text, f.json = idle_json, f.html = idle_html;
    mode_row row = mode_make("idle", "--idle", idle_rows, f);
    row.noted = true;
    return row;
}
