// The report's assembly from a latency's outcome made by hand: the plots' data
// and markers where the report's figures put them, the level axis chosen by
// its table, phase wraps broken, the response files by their names (FRD with
// the CSV's numbers, WAV at the run's rate), and a page whose every text is
// escaped.
#include <gtest/gtest.h>

#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <sstream>

#include "common/loopcheck_session.hpp"
#include "loopcheck/report/report_html.hpp"
#include "writers/frd.hpp"

namespace {

// A report of one run at 48000 Hz, latency 300.25, a next peak 40 frames on,
// and rows whose level and phase have no short decimal form.
latency_outcome sample_report()
{
    latency_outcome o;
    o.end.ran = true;
    o.facts.rate = 48000.0;
    o.facts.host_api = "JACK";
    o.facts.out_device = o.facts.in_device = 1;
    o.facts.out_name = o.facts.in_name = "card <1> & \"x\"";
    latency_facts& r = o.measured;
    run_report run;
    run.result.loop = true;
    run.result.latency = 300.25, run.result.peak = 300;
    run.result.has_next = true, run.result.next_offset = 40, run.result.next_level_db = -35.0;
    run.result.snr_db = 90.0;
    run.sweep_frames = 4096;
    r.runs.push_back(run);
    r.ir_first = 300 - 256;
    for (int i = 0; i < 1281; i++)
        r.ir.push_back(i == 256 ? 0.5 : 1e-4 * std::sin(i / 7.0));
    for (double hz = 11.71875; hz <= 24000.0; hz += 11.71875) {
        const double phase = std::remainder(hz / 10.0, 360.0);  // wraps every 3600 Hz
        r.response_rows.push_back({hz, -0.1 * std::log10(hz) / 3.0, phase, hz < 40.0 ? 12.5 : 60.0 + 1.0 / 3.0});
    }
    return o;
}

std::string temp_path(const std::string& name)
{
    return ::testing::TempDir() + "report_html_" + std::to_string(getpid()) + "_" + name;
}

std::string read_text(const std::string& path)
{
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

}  // namespace

TEST(LoopcheckReportHtml, TheImpulsePlotMarksTheLatencyAndTheNextPeak)
{
    latency_outcome o = sample_report();
    latency_facts& r = o.measured;
    report_plot ir;
    ASSERT_TRUE(latency_plot_impulse(o, ir));
    EXPECT_EQ(ir.p.x.min, 44.0);
    EXPECT_EQ(ir.p.x.max, 44.0 + 1280.0);
    EXPECT_DOUBLE_EQ(ir.p.y.max, 0.575);
    ASSERT_EQ(ir.p.vlines.size(), 2u);
    EXPECT_EQ(ir.p.vlines[0].x, 300.25);
    EXPECT_EQ(ir.p.vlines[1].x, 340.0);
    // A next peak beyond the excerpt is not drawn; a run that found no loop
    // marks its largest tap instead.
    r.runs[0].result.next_offset = 5000;
    ASSERT_TRUE(latency_plot_impulse(o, ir));
    EXPECT_EQ(ir.p.vlines.size(), 1u);
    r.seen = r.runs[0].result, r.seen.loop = false, r.has_seen = true;
    r.runs.clear();
    ASSERT_TRUE(latency_plot_impulse(o, ir));
    ASSERT_EQ(ir.p.vlines.size(), 1u);
    EXPECT_EQ(ir.p.vlines[0].x, 300.0);
    r.ir.clear();
    EXPECT_FALSE(latency_plot_impulse(o, ir));
}

TEST(LoopcheckReportHtml, TheLevelAxisIsTheFirstRangeThatHoldsTheAudioBand)
{
    struct row {
        double low, high;  // the levels put at 1 kHz and 5 kHz
        double y_min, y_max;
    };
    const row rows[] = {
        {-3.0, 3.0, -3.0, 3.0},    {-3.01, 0.0, -12.0, 6.0},    {0.0, 6.5, -30.0, 10.0},
        {-59.0, 0.0, -60.0, 20.0}, {-200.0, 0.0, -120.0, 40.0},
    };
    for (const row& x : rows) {
        latency_outcome o = sample_report();
        latency_facts& r = o.measured;
        for (response_row& v : r.response_rows) {
            v.level_db = std::fabs(v.hz - 1000.0) < 6.0 ? x.low : std::fabs(v.hz - 5000.0) < 6.0 ? x.high : 0.0;
            if (v.hz > 20000.0)
                v.level_db = -90.0;  // beyond the audio band: the curve may leave the plot
        }
        report_plot level;
        ASSERT_TRUE(latency_plot_level(o, level));
        EXPECT_EQ(level.p.y.min, x.y_min) << x.low << " " << x.high;
        EXPECT_EQ(level.p.y.max, x.y_max) << x.low << " " << x.high;
        EXPECT_EQ(level.p.x.min, 10.0);
        EXPECT_EQ(level.p.x.max, 24000.0);
        ASSERT_EQ(level.weak.size(), r.response_rows.size());
        for (size_t i = 0; i < level.weak.size(); i++)
            ASSERT_EQ(level.weak[i] != 0, r.response_rows[i].hz < 40.0) << r.response_rows[i].hz;
    }
}

TEST(LoopcheckReportHtml, ThePhaseBreaksWhereItWraps)
{
    const latency_outcome o = sample_report();
    const latency_facts& r = o.measured;
    report_plot phase;
    ASSERT_TRUE(latency_plot_phase(o, phase));
    // The phase is hz / 10 wrapped: a wrap at 1800, 5400, ... 23400 Hz.
    size_t breaks = 0;
    for (size_t i = 0; i < phase.x.size(); i++) {
        if (std::isnan(phase.y[i])) {
            breaks++;
            EXPECT_GT(std::fabs(phase.y[i + 1] - phase.y[i - 1]), 180.0);
        }
    }
    EXPECT_EQ(breaks, 7u);
    EXPECT_EQ(phase.x.size(), r.response_rows.size() + breaks);
}

TEST(LoopcheckReportHtml, FilesFollowTheirNames)
{
    latency_outcome r = sample_report();
    r.plan.response_file = temp_path("r.csv");
    ASSERT_EQ(latency_files_write(r), "");
    const std::string csv = r.plan.response_file;
    r.plan.response_file = temp_path("r.FRD");
    ASSERT_EQ(latency_files_write(r), "");
    std::vector<frd_point> frd;
    ASSERT_EQ(frd_read(r.plan.response_file, frd), "");
    EXPECT_EQ(read_text(r.plan.response_file).rfind("* loopcheck", 0), 0u);
    // Every CSV line holds the FRD point's numbers as the CSV prints them.
    std::istringstream lines(read_text(csv));
    std::string line;
    std::getline(lines, line);
    size_t i = 0;
    for (; std::getline(lines, line); i++) {
        ASSERT_LT(i, frd.size());
        char numbers[128];
        std::snprintf(numbers, sizeof numbers, "%.4f,%.4f,%.3f,", frd[i].hz, frd[i].db, frd[i].deg);
        ASSERT_EQ(line.rfind(numbers, 0), 0u) << line;
    }
    EXPECT_EQ(i, frd.size());

    r.plan.response_file.clear();
    r.plan.ir_file = temp_path("ir.wav");
    ASSERT_EQ(latency_files_write(r), "");
    SF_INFO info{};
    SNDFILE* f = sf_open(r.plan.ir_file.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(info.samplerate, 48000);
    EXPECT_EQ(info.frames, 1281);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    std::vector<float> back(1281);
    EXPECT_EQ(sf_readf_float(f, back.data(), 1281), 1281);
    EXPECT_EQ(back[256], 0.5f);
    sf_close(f);
    for (const std::string& path : {csv, temp_path("r.FRD"), r.plan.ir_file})
        std::remove(path.c_str());
}

TEST(LoopcheckReportHtml, ThePageEscapesAndShowsWhatTheReportHolds)
{
    struct row {
        const char* name;
        check_status status;
        bool runs;
        std::vector<std::string> shows;
    };
    const row rows[] = {
        {"measured",
         check_status::ok,
         true,
         {"loopcheck: measured", "300.250 ± 0.0000 frames", "6.255 ms", "-35.0 dB", "<svg"}},
        {"no loop",
         check_status::no_loop,
         false,
         {"loopcheck: no loop found", "stands 90.0 dB", "largest tap", "<svg"}},
        {"error", check_status::error, false, {"a PortAudio or device error", "not opened"}},
    };
    for (const row& x : rows) {
        SCOPED_TRACE(x.name);
        test_session s;
        latency_outcome o = sample_report();
        latency_facts& r = o.measured;
        check_verdict v;
        v.status = x.status;
        if (x.status != check_status::ok)
            v.failed = {check_failed("x", x.status, "<why> & because")};
        if (x.status == check_status::no_loop)
            r.seen = r.runs[0].result, r.seen.loop = false, r.seen.peak_value = 0.5, r.has_seen = true;
        if (x.status == check_status::error)
            o.facts.rate = 0.0, r.ir.clear(), r.response_rows.clear();
        if (!x.runs)
            r.runs.clear();
        s.facts = o.facts;
        s.latency = o;
        const std::string page = report_html(test_result(s), v, "2026-01-02 03:04:05 UTC");
        for (const std::string& text : x.shows)
            EXPECT_NE(page.find(text), std::string::npos) << text;
        if (x.status != check_status::ok) {
            EXPECT_NE(page.find("&lt;why&gt; &amp; because"), std::string::npos);
        }
        EXPECT_NE(page.find("card &lt;1&gt; &amp; &quot;x&quot;"), std::string::npos);
        EXPECT_EQ(page.find("<why>"), std::string::npos);
        EXPECT_EQ(page.find("<script"), std::string::npos);
        EXPECT_EQ(page.find("Magnitude response") != std::string::npos, x.runs);
    }
}

namespace {

// A two-loop battery's outcome made by hand: loop 1's -60 dBFS tone below
// its noise (every harmonic and THD bounds), its -1 dBFS tone's H2 measured,
// H3 a bound; a crosstalk pair of each method, the all-driven one a bound.
quality_outcome bounded_outcome()
{
    quality_outcome q;
    q.ran = true;
    q.plan = quality_plan_make(48000.0, 2);
    q.shifts = {300, 303};
    q.latency_frames = {300.0, 303.0};
    q.responses.resize(2);
    for (int l = 0; l < 2; l++) {
        quality_loop_figures f;
        f.loop = l, f.valid = true;
        for (const double level : {-1.0, -60.0}) {
            quality_tone_figures t;
            t.valid = true;
            t.conditions.level_dbfs = level, t.conditions.received_dbfs = level, t.conditions.hz = {997.56};
            t.thd_n_db = level == -1.0 ? -80.0 : -47.8, t.thd_n_pct = 1.0, t.thd_n_a_db = -49.0;
            t.thd_n_floor = {-47.9 - (level == -1.0 ? 59.0 : 0.0), false, level != -1.0};
            const bool low = level == -60.0;
            for (size_t k = 0; k < 9; k++) {
                const bool bound = low || k > 0;
                t.harmonics_db[k] = bound ? (low ? -74.4 : -132.0) : -80.02;
                t.harmonics_floor[k] = {*t.harmonics_db[k] - (bound ? 10.0 : 50.0), bound, bound};
            }
            t.thd_db = low ? -64.9 : -80.0, t.thd_pct = 0.01, t.thd_floor = {low ? -74.9 : -122.0, low, low};
            f.tones.push_back(t);
        }
        f.noise.valid = true, f.noise.noise_dbfs = -107.8, f.noise.noise_dbfs_a = -109.9;
        f.noise.floor_dbfs = tones_floor_dbfs;
        f.crosstalk_db = -110.0, f.crosstalk_method = quality_crosstalk_method::aes17;
        f.crosstalk_floor = {-120.0, true, true};
        q.loops.push_back(f);
    }
    quality_crosstalk_pair aes17;
    aes17.from = 0, aes17.to = 1, aes17.method = quality_crosstalk_method::aes17, aes17.hz = 997.56;
    aes17.db_1khz = -90.0, aes17.floor_1khz = {-143.0, false, false};
    quality_crosstalk_pair driven = aes17;
    driven.method = quality_crosstalk_method::all_driven, driven.hz = 988.77;
    driven.db_1khz = -123.0, driven.floor_1khz = {-133.0, true, true};
    driven.octave_hz = {127.0, 250.0, 488.0, 988.77, 2000.0, 4003.0, 8002.0, 15992.0};
    driven.octave_db.assign(8, -123.0), driven.octave_floor.assign(8, {-133.0, true, true});
    q.crosstalk = {aes17, driven};
    return q;
}

}  // namespace

TEST(LoopcheckReportHtml, BoundsAreHatchedAndMarkedInTextAndJson)
{
    // The harmonics plot: a bar for each harmonic of each tone, hatched
    // exactly where the figure is a bound, each floor a dot; the text writes
    // a bound "<" with its floor beside; the JSON gives each floor and bound.
    battery_outcome o;
    o.end.ran = true;
    o.plan.out_channels = o.plan.in_channels = {1, 2};
    o.quality = bounded_outcome();
    report_plot bars;
    ASSERT_TRUE(quality_plot_harmonics(o.quality, 0, bars));
    ASSERT_EQ(bars.p.bars.size(), 2u);
    for (size_t t = 0; t < 2; t++) {
        ASSERT_EQ(bars.p.bars[t].hatched.size(), 9u);
        for (size_t k = 0; k < 9; k++)
            EXPECT_EQ(bars.p.bars[t].hatched[k] != 0, o.quality.loops[0].tones[t].harmonics_floor[k].bound)
                << t << ", H" << k + 2;
        EXPECT_EQ(bars.p.points[t].x.size(), 9u);  // the floors
    }
    EXPECT_LE(bars.p.y.min, -142.0);  // the lowest floor
    EXPECT_GE(bars.p.y.max, -64.9);
    const std::string svg = plot_svg(bars.p);
    EXPECT_NE(svg.find("fill=\"none\" stroke=\"#1f77b4\""), std::string::npos) << "a hatched bar";

    const std::string text = quality_text(o, {}, text_part::report);
    for (const char* wanted :
         {"THD <-64.9 dB (a bound: below its noise; floor -74.9 dB)", "H2…H10 -80.0 <-132.0", "<-74.4 <-74.4",
          "crosstalk by AES17", "loop 1 → loop 2: -90.00 dB (floor -143.0 dB) at 997.56 Hz",
          "crosstalk, every loop at once (all driven)", "loop 1 → loop 2: <-123.00 dB (a bound: below its noise"})
        EXPECT_NE(text.find(wanted), std::string::npos) << wanted << "\n" << text;

    nlohmann::ordered_json report;
    quality_json(o, {}, report);
    const nlohmann::ordered_json& j = report["quality"];
    const auto& low = j["channels"][0]["thd_n"][1];
    EXPECT_EQ(low["thd_floor"]["bound"], true);
    EXPECT_EQ(low["thd_floor"]["noise_limited"], true);
    EXPECT_EQ(low["harmonics_floor"][0]["bound"], true);
    EXPECT_EQ(j["channels"][0]["thd_n"][0]["harmonics_floor"][0]["bound"], false);
    EXPECT_EQ(j["channels"][1]["crosstalk_method"], "aes17");
    EXPECT_EQ(j["channels"][1]["crosstalk_floor"]["bound"], true);
    EXPECT_EQ(j["crosstalk"][0]["method"], "aes17");
    EXPECT_EQ(j["crosstalk"][1]["method"], "all-driven");
    EXPECT_EQ(j["crosstalk"][1]["floor_1khz"]["bound"], true);
    EXPECT_EQ(j["crosstalk"][1]["by_octave_floor"].size(), 8u);
}

// The interface's clock against the system's among the key figures of a plain
// run and of the monitor, where it was measured (5 s or more), in the words
// the text gives it; nowhere where it was not.
TEST(LoopcheckReportHtml, TheClockWhereItWasMeasured)
{
    clock_rate measured;
    measured.error = "", measured.rate_hz = 48000.049, measured.ppm = 1.02, measured.ppm_uncertainty = 11.05;
    measured.span_s = 10.3, measured.segments = 2, measured.points = 1003;
    clock_rate short_run;
    short_run.error = "too short: the stream's clock was timed over 1.6 s, less than 5 s";
    struct row {
        const char* what;
        bool monitor;
        clock_rate clock;
        bool shown;
    };
    const row rows[] = {
        {"a plain run of 10 s", false, measured, true},
        {"a plain run under 5 s", false, short_run, false},
        {"the monitor's summary", true, measured, true},
        {"a monitor under 5 s", true, short_run, false},
    };
    for (const row& x : rows) {
        SCOPED_TRACE(x.what);
        test_session s = test_measured();
        if (x.monitor) {
            monitor_outcome m;
            m.end.ran = true;
            m.trace = monitor_trace_start(48000.0);
            monitor_trace_end(m.trace, 10.0);
            m.clock = x.clock;
            s.monitor = m;
        } else {
            s.latency->clock = x.clock;
        }
        const session_result r = test_result(s);
        const std::string page = report_html(r, test_verdict(r), "today");
        const size_t at = page.find("Clock against the system&#39;s");
        const size_t at_plain = page.find("Clock against the system's");
        const bool shown = at != std::string::npos || at_plain != std::string::npos;
        EXPECT_EQ(shown, x.shown);
        EXPECT_EQ(page.find("48000.049 Hz, +1.02 ± 11.05 ppm over 10.3 s") != std::string::npos, x.shown);
        EXPECT_EQ(page.find("2 lines, broken at xruns, 1003 callbacks timed") != std::string::npos, x.shown);
        if (x.monitor && x.shown) {
            // Among the monitor's figures, after its own.
            const size_t monitor = page.find("Longest clean stretch");
            ASSERT_NE(monitor, std::string::npos);
            EXPECT_GT(std::min(at, at_plain), monitor);
        }
    }
}
