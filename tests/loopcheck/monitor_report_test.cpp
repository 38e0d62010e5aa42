// The monitor's JSON Lines: each a single line holding one object with the
// keys a script tails for, and the verdict's exit statuses from glitches,
// drift and the limits.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "loopcheck/monitor/monitor.hpp"
#include "loopcheck/monitor/monitor_report.hpp"
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
    for (const char* key : {"duration_s", "frames", "glitches", "by_kind", "longest_clean_s", "xruns", "drift_ppm",
                            "drift_ppm_uncertainty", "delay_start_frames", "delay_end_frames", "residue_db"})
        EXPECT_TRUE(s.contains(key)) << key;
    EXPECT_EQ(s["event"], "summary");
    EXPECT_EQ(s["duration_s"], 60.0);
    EXPECT_EQ(s["by_kind"]["dropped"], 2);
    EXPECT_TRUE(s["drift_ppm_uncertainty"].is_null());  // not known yet: null, never -1
    EXPECT_EQ(one_line(monitor_status_json(p, "w"))["event"], "status");
    EXPECT_EQ(one_line(monitor_overrun_json(10, 5, 48000.0, "w"))["kind"], "monitor overrun");
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
    };
    const row rows[] = {{0, 0.0, true, -1, -1.0, 0}, {1, 0.0, true, -1, -1.0, 7},  {3, 0.0, true, 2, -1.0, 5},
                        {2, 0.0, true, 2, -1.0, 0},  {0, 12.0, true, -1, 10.0, 5}, {0, -12.0, true, -1, 10.0, 5},
                        {0, 9.0, true, -1, 10.0, 0}, {0, 0.0, false, -1, -1.0, 7}, {5, 50.0, true, 10, 10.0, 5}};
    for (const row& x : rows) {
        monitor_outcome o;
        o.end.ran = true;
        o.plan.max_glitches = x.max_glitches, o.plan.max_drift_ppm = x.max_drift;
        o.progress = progress(x.events, x.drift, x.aligned);
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
