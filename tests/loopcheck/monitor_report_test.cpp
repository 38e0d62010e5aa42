// The monitor's JSON Lines: each a single line holding one object with the
// keys a script tails for, and the verdict's exit statuses from glitches,
// drift and the limits.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "loopcheck/monitor/monitor.hpp"
#include "loopcheck/monitor/monitor_report.hpp"
#include "loopcheck/report/report_html.hpp"
#include "loopcheck/verdict/verdict.hpp"

namespace {

using json = nlohmann::json;

// One line, newline-terminated, one JSON object.
json one_line(const std::string& text)
{
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
    return json::parse(text);
}

monitor_progress progress(int64_t events, double drift, bool aligned = true)
{
    monitor_progress p;
    p.rate = 48000.0, p.frames = 48000 * 60;
    p.summary.aligned = aligned, p.summary.events = events, p.summary.drift_ppm = drift;
    p.summary.drift_ppm_uncertainty = -1.0;
    return p;
}

}  // namespace

TEST(MonitorReport, LinesHaveTheirKeys)
{
    monitor_event e;
    e.frame = 96000, e.kind = monitor_kind::zeros, e.frames = 48, e.xrun_flagged = true;
    const json g = one_line(monitor_glitch_json(e, 48000.0, "2026-01-01T00:00:00.000Z"));
    EXPECT_EQ(g["event"], "glitch");
    EXPECT_EQ(g["t_s"], 2.0);
    EXPECT_EQ(g["frame"], 96000);
    EXPECT_EQ(g["kind"], "zeros");
    EXPECT_EQ(g["frames"], 48);
    EXPECT_EQ(g["xrun"], true);
    EXPECT_TRUE(g.contains("wall"));

    monitor_progress p = progress(2, 0.5);
    p.summary.by_kind[static_cast<size_t>(monitor_kind::dropped)] = 2;
    nlohmann::ordered_json line;
    monitor_summary_json(p, line);
    const json s = one_line(line.dump() + "\n");
    for (const char* key : {"duration_s",
                            "frames",
                            "glitches",
                            "by_kind",
                            "longest_clean_s",
                            "xruns",
                            "drift_ppm",
                            "drift_ppm_uncertainty",
                            "delay_start_frames",
                            "delay_end_frames",
                            "residue_db",
                            "changes",
                            "changes_by_kind",
                            "drift_from_s",
                            "drift_to_s",
                            "drift_correlation_s",
                            "drift_wander_slow",
                            "false_glitches_per_hour",
                            "learning_restarts",
                            "stimulus_found",
                            "locked",
                            "followed_s",
                            "lost_s",
                            "frames_lost"})
        EXPECT_TRUE(s.contains(key)) << key;
    // The glitches by kind hold the glitches only; the changes their own.
    EXPECT_FALSE(s["by_kind"].contains("rate"));
    EXPECT_TRUE(s["changes_by_kind"].contains("polarity"));
    EXPECT_EQ(s["event"], "summary");
    EXPECT_EQ(s["duration_s"], 60.0);
    EXPECT_EQ(s["by_kind"]["dropped"], 2);
    EXPECT_TRUE(s["drift_ppm_uncertainty"].is_null());  // not known yet: null, never -1
    EXPECT_EQ(one_line(monitor_status_json(p, "w"))["event"], "status");
    EXPECT_EQ(one_line(monitor_overrun_json(10, 5, 48000.0, "w"))["kind"], "monitor overrun");
}

// A change followed (rate, polarity, level) is its own line, "event":
// "change", with its figures, and never a glitch's keys; a discontinuity
// while the residue was learnt says so.
TEST(MonitorReport, ChangesFollowedAreTheirOwnLines)
{
    struct row {
        monitor_kind kind;
        double before, after;  // ppm for a rate, gains for the others
        const char* text;      // what the text line says
        double level_db;
    };
    const row rows[] = {
        {monitor_kind::rate, 0.0, 1.0, "clock rate changed at 2.000 s", 0.0},
        {monitor_kind::polarity, 0.5, -0.5, "polarity flipped at 2.000 s", 0.0},
        {monitor_kind::level, 0.5, 0.25, "level changed at 2.000 s", -6.0206},
    };
    for (const row& x : rows) {
        SCOPED_TRACE(monitor_kind_name(x.kind));
        monitor_event e;
        e.frame = 96000, e.kind = x.kind;
        if (x.kind == monitor_kind::rate)
            e.rate_before_ppm = x.before, e.rate_after_ppm = x.after;
        else
            e.gain_before = x.before, e.gain_after = x.after;
        const json j = one_line(monitor_glitch_json(e, 48000.0, "w"));
        EXPECT_EQ(j["event"], "change");
        EXPECT_EQ(j["kind"], monitor_kind_name(x.kind));
        EXPECT_FALSE(j.contains("xrun") || j.contains("frames") || j.contains("side"));
        if (x.kind == monitor_kind::rate) {
            EXPECT_EQ(j["rate_after_ppm"], 1.0);
            EXPECT_FALSE(j.contains("gain_before"));
        } else {
            EXPECT_EQ(j["gain_after"], x.after);
            EXPECT_NEAR(j["level_change_db"].get<double>(), x.level_db, 1e-3);
        }
        const std::string text = monitor_glitch_text(e, 48000.0, "w");
        EXPECT_NE(text.rfind("glitch at", 0), 0u) << text;  // no glitch line
        EXPECT_NE(text.find(x.text), std::string::npos) << text;
    }
    monitor_event d;
    d.kind = monitor_kind::discontinuity, d.learning_restarted = true;
    EXPECT_EQ(one_line(monitor_glitch_json(d, 48000.0, "w"))["learning_restarted"], true);
    EXPECT_NE(monitor_glitch_text(d, 48000.0, "w").find("learnt again"), std::string::npos);
}

TEST(MonitorReport, Verdicts)
{
    struct row {
        int64_t events;
        double drift;
        bool aligned;
        int64_t max_glitches;
        double max_drift;
        int exit_code;
        int64_t changes = 0;  // rate, polarity and level events: never glitches
    };
    const row rows[] = {{0, 0.0, true, -1, -1.0, 0},    {1, 0.0, true, -1, -1.0, 7},  {3, 0.0, true, 2, -1.0, 5},
                        {2, 0.0, true, 2, -1.0, 0},     {0, 12.0, true, -1, 10.0, 5}, {0, -12.0, true, -1, 10.0, 5},
                        {0, 9.0, true, -1, 10.0, 0},    {0, 0.0, false, -1, -1.0, 7}, {5, 50.0, true, 10, 10.0, 5},
                        {0, 0.0, true, -1, -1.0, 0, 4}, {2, 0.0, true, 2, -1.0, 0, 5}};
    for (const row& x : rows) {
        monitor_outcome o;
        o.end.ran = true;
        o.plan.max_glitches = x.max_glitches, o.plan.max_drift_ppm = x.max_drift;
        o.progress = progress(x.events, x.drift, x.aligned);
        o.progress.summary.changes = x.changes;
        o.progress.summary.by_kind[static_cast<size_t>(monitor_kind::rate)] = x.changes;
        const mode_judgement judged = monitor_judge(o);
        const mode_judgement* all[] = {&judged};
        EXPECT_EQ(verdict_exit_code(verdict_fold(all)), x.exit_code) << x.events << " " << x.drift << " " << x.aligned;
    }
}

// The counts a person reads are in the singular for one: "1 glitch", never "1 glitches".
TEST(MonitorReport, OneGlitchAndOneXrunInTheSingular)
{
    const struct {
        int64_t events, xruns;
        const char* status;  // what the status line says of them
    } rows[] = {
        {1, 1, "1 glitch · 1 xrun ·"},
        {0, 0, "0 glitches · 0 xruns ·"},
        {2, 3, "2 glitches · 3 xruns ·"},
    };
    for (const auto& r : rows) {
        monitor_progress p = progress(r.events, 0.5);
        p.xruns = r.xruns;
        const std::string status = monitor_status_text(p), summary = monitor_summary_text(p);
        EXPECT_NE(status.find(r.status), std::string::npos) << status;
        EXPECT_EQ(summary.find("1 glitches"), std::string::npos) << summary;
        EXPECT_EQ(summary.find("1 xruns"), std::string::npos) << summary;
    }
}

// The page: the monitor's figures and every event listed where a reader of a
// monitor run looks first (beside the verdict), each with its time, kind,
// size, side, xrun and WAV file; the plots among the sections.
TEST(MonitorReport, ThePageListsEveryGlitchFirst)
{
    monitor_outcome o;
    o.end.ran = true;
    o.trace = monitor_trace_start(48000.0);
    o.trace.summary.events = 2, o.trace.summary.changes = 1, o.trace.summary.locked = true;
    monitor_event drop;
    drop.frame = 48000, drop.kind = monitor_kind::dropped, drop.frames = 64, drop.side = monitor_side::playback;
    drop.xrun_flagged = true;
    monitor_event zeros;
    zeros.frame = 96000, zeros.kind = monitor_kind::zeros, zeros.frames = 480;
    monitor_event rate;
    rate.frame = 144000, rate.kind = monitor_kind::rate, rate.rate_before_ppm = 0.0, rate.rate_after_ppm = 1.0;
    monitor_trace_event_add(o.trace, drop, "glitch-0001-1.000s-dropped.wav");
    monitor_trace_event_add(o.trace, zeros, "glitch-0002-2.000s-zeros.wav");
    monitor_trace_event_add(o.trace, rate, "");
    const mode_judgement j = monitor_judge(o);
    report_page first, sections;
    monitor_html(first, o, j, html_part::verdict);
    monitor_html(sections, o, j, html_part::sections);
    const std::string& page = first.page.text;
    for (const char* cell : {"<td>1.000</td><td>48000</td><td>dropped</td><td>64</td><td>playback</td><td>yes</td>"
                             "<td>glitch-0001-1.000s-dropped.wav</td>",
                             "<td>2.000</td><td>96000</td><td>zeros</td><td>480</td><td></td><td>no</td>"
                             "<td>glitch-0002-2.000s-zeros.wav</td>",
                             "<td>3.000</td><td>144000</td><td>clock rate +0.000 to +1.000 ppm</td><td></td>"})
        EXPECT_NE(page.find(cell), std::string::npos) << cell << "\n" << page;
    EXPECT_NE(page.find("Followed"), std::string::npos);
    EXPECT_NE(page.find("False glitches expected"), std::string::npos);
    EXPECT_EQ(sections.page.text.find("<td>dropped</td>"), std::string::npos);
}
