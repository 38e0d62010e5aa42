// The monitor's main loop offline: a scripted stream whose pause runs the
// callback cycle by cycle, its input the loop's answer to what it played,
// with frames dropped or repeated, a flagged call, a stall and Ctrl-C where
// each row puts them; the clock is the script's, so nothing waits for real.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "analysis/monitor.hpp"
#include "common/loopcheck_session.hpp"
#include "common/rig.hpp"
#include "loopcheck/io/stream_script.hpp"

namespace {

constexpr int64_t delay = 1000;  // longer than a cycle and any slip: the answer is always played already

struct script {
    double gain_db = -6.0;
    double seconds = 2.0;       // --monitor's duration; 0: until Ctrl-C
    int64_t slip_at = -1;       // a capture frame from the stimulus's start: the delay changes there
    int64_t slip = 0;           // by this many frames: > 0 frames dropped, < 0 repeated
    int64_t flag_at = -1;       // the call holding this frame reports an input overflow
    int64_t skip_at = -1;       // the server runs a cycle the callback never sees before the call holding this frame
    int64_t stall_at = -1;      // no frames from here on
    int64_t interrupt_at = -1;  // Ctrl-C here
};

struct seen {
    int starts = 0, statuses = 0, xruns = 0;
    std::vector<monitor_event> glitches;
};

class scripted_loop {
public:
    scripted_loop(stream& s, const script& sc, std::atomic<bool>& interrupted)
        : s_(s), sc_(sc), interrupted_(interrupted)
    {
    }

    // The pause: the stream runs on for ms of the script's time.
    void pause(int64_t ms)
    {
        now_ms_ += ms;
        while (static_cast<double>(stream_frames_done(s_)) < static_cast<double>(now_ms_) * rate / 1000.0) {
            if (stalled())
                return;
            cycle();
        }
    }
    int64_t now_ms() const { return now_ms_; }

private:
    int64_t from_stimulus(int64_t frame) const
    {
        const int64_t start = stream_script_next_start(s_);
        return start < 0 ? -1 : frame - start;
    }
    bool stalled() const { return sc_.stall_at >= 0 && from_stimulus(stream_frames_done(s_)) >= sc_.stall_at; }

    void cycle()
    {
        const int64_t first = stream_frames_done(s_);
        std::vector<float> in(period), out(period);
        bool flagged = false;
        for (int64_t i = 0; i < period; i++) {
            const int64_t f = from_stimulus(first + i);
            const int64_t shift = sc_.slip_at >= 0 && f >= sc_.slip_at ? sc_.slip : 0;
            const int64_t source = first + i - delay + shift;
            double v = source >= 0 && source < static_cast<int64_t>(played_.size()) ? gain() * played_[source] : 0.0;
            v += noise_(random_);
            in[static_cast<size_t>(i)] = static_cast<float>(v);
            flagged = flagged || (sc_.flag_at >= 0 && f == sc_.flag_at);
            if (sc_.skip_at >= 0 && f == sc_.skip_at)
                server_time_ += period;
            if (sc_.interrupt_at >= 0 && f == sc_.interrupt_at)
                interrupted_.store(true);
        }
        stream_script_cycle(s_, in.data(), out.data(), period, flagged ? xrun_input_overflow : 0u,
                            static_cast<uint32_t>(server_time_));
        played_.insert(played_.end(), out.begin(), out.end());
        server_time_ += period;
    }
    double gain() const { return std::pow(10.0, sc_.gain_db / 20.0); }

    stream& s_;
    script sc_;
    std::atomic<bool>& interrupted_;
    std::vector<float> played_;
    int64_t now_ms_ = 0;
    int64_t server_time_ = 0;  // the server's frame counter
    std::mt19937_64 random_{7};
    std::normal_distribution<double> noise_{0.0, 3e-5};  // -90 dBFS
};

struct monitored {
    monitor_outcome outcome;
    check_verdict verdict;
    seen lines;
};

// The monitor mode on the scripted loop: its stimulus given to the stream,
// then its run on a loop of delay frames at the script's gain, as the latency
// would hand it on, and its judgement.
monitored monitor(const script& sc)
{
    monitored m;
    const stream_ptr s = stream_script_open(rate, true);
    monitor_plan plan;
    plan.duration_s = sc.seconds;
    monitor_prepare(plan, *s);
    stream_start(*s);
    std::atomic<bool> interrupted{false};
    scripted_loop loop(*s, sc, interrupted);
    loop.pause(100);  // the stream running before the monitor starts
    mode_run run{
        *s, {}, &interrupted, {[&loop] { return loop.now_ms(); }, [&loop](int64_t ms) { loop.pause(ms); }}, {}};
    mode_prior prior;
    prior.latency_frames = {static_cast<double>(delay)};
    prior.gain = std::pow(10.0, sc.gain_db / 20.0);
    seen& lines = m.lines;
    monitor_sink sink;
    sink.start = [&lines](const monitor_progress&, monitor_wall) { lines.starts++; };
    sink.glitch = [&lines](const monitor_event& e, const monitor_progress&, monitor_wall) {
        lines.glitches.push_back(e);
    };
    sink.xrun = [&lines](int64_t, unsigned, const monitor_progress&, monitor_wall) { lines.xruns++; };
    sink.status = [&lines](const monitor_progress&, monitor_wall) { lines.statuses++; };
    m.outcome = monitor_run_with(plan, prior, run, sink);
    const mode_judgement judged = monitor_judge(m.outcome);
    const mode_judgement* all[] = {&judged};
    m.verdict = verdict_fold(all);
    return m;
}

}  // namespace

TEST(LoopcheckMonitorRun, TheMainLoopOnAScriptedStream)
{
    const int64_t at = 60000;  // 1.25 s in: well after the detector has locked on
    struct row {
        const char* name;
        script sc;
        check_status status;
        size_t glitches;
        monitor_kind kind;
        int64_t frames;
        int xruns;
        const char* words;
        bool flagged = false;  // the glitch beside the host's xrun
    };
    const row rows[] = {
        {"clean", {}, check_status::ok, 0, monitor_kind::dropped, 0, 0, ""},
        {"64 frames dropped",
         {.slip_at = at, .slip = 64},
         check_status::glitches,
         1,
         monitor_kind::dropped,
         64,
         0,
         "1 glitch found"},
        {"256 frames repeated",
         {.slip_at = at, .slip = -256},
         check_status::glitches,
         1,
         monitor_kind::inserted,
         256,
         0,
         "1 glitch found"},
        {"a flagged call, the audio intact", {.flag_at = at}, check_status::ok, 0, monitor_kind::dropped, 0, 1, ""},
        {"a flagged call and the cycle skipped for it: one xrun",
         {.flag_at = at, .skip_at = at},
         check_status::ok,
         0,
         monitor_kind::dropped,
         0,
         1,
         ""},
        // The server's skip marked only some calls later, the flag on the
        // call after the gap: one incident, counted once.
        {"a cycle skipped and the next call flagged: one xrun",
         {.flag_at = at + period, .skip_at = at},
         check_status::ok,
         0,
         monitor_kind::dropped,
         0,
         1,
         ""},
        // The glitch is reported some 30 ms after its frame: the host's flag
        // 40 ms after it must still reach it.
        {"a flagged call 40 ms after the slip",
         {.slip_at = at, .slip = 64, .flag_at = at + 1920},
         check_status::glitches,
         1,
         monitor_kind::dropped,
         64,
         1,
         "1 glitch found",
         true},
        {"a flagged call 60 ms after the slip",
         {.slip_at = at, .slip = 64, .flag_at = at + 2880},
         check_status::glitches,
         1,
         monitor_kind::dropped,
         64,
         1,
         "1 glitch found",
         false},
        {"the stream stalls",
         {.stall_at = at},
         check_status::error,
         0,
         monitor_kind::dropped,
         0,
         0,
         "stopped delivering frames during the monitor (the script stopped)"},
        {"Ctrl-C before the end",
         {.interrupt_at = at},
         check_status::interrupted,
         0,
         monitor_kind::dropped,
         0,
         0,
         "interrupted; the summary covers what was checked"},
        {"Ctrl-C ends a run until Ctrl-C",
         {.seconds = 0.0, .interrupt_at = at},
         check_status::ok,
         0,
         monitor_kind::dropped,
         0,
         0,
         ""},
    };
    for (const row& x : rows) {
        SCOPED_TRACE(x.name);
        const monitored m = monitor(x.sc);
        const std::string message = verdict_message(m.verdict);
        EXPECT_TRUE(m.outcome.end.ran);
        EXPECT_EQ(m.lines.starts, 1);
        EXPECT_EQ(m.verdict.status, x.status) << message;
        EXPECT_NE(message.find(x.words), std::string::npos) << message;
        EXPECT_TRUE(m.outcome.progress.summary.aligned);
        ASSERT_EQ(m.lines.glitches.size(), x.glitches);
        if (x.glitches > 0) {
            EXPECT_EQ(m.lines.glitches[0].kind, x.kind);
            EXPECT_EQ(m.lines.glitches[0].frames, x.frames);
            EXPECT_NEAR(static_cast<double>(m.lines.glitches[0].frame), static_cast<double>(at), 2.0 * period);
            EXPECT_EQ(m.lines.glitches[0].xrun_flagged, x.flagged);
        }
        EXPECT_EQ(m.lines.xruns, x.xruns);
        EXPECT_EQ(m.outcome.progress.xruns, x.xruns);
        // The summary's frames: the whole run, or up to where it ended.
        const int64_t end = x.sc.stall_at >= 0 ? x.sc.stall_at : x.sc.interrupt_at >= 0 ? x.sc.interrupt_at : -1;
        if (end < 0)
            EXPECT_EQ(m.outcome.progress.frames, std::llrint(x.sc.seconds * rate));
        else
            EXPECT_NEAR(static_cast<double>(m.outcome.progress.frames), static_cast<double>(end), 0.06 * rate);
    }
}

// A loop below the detector's reach is refused before anything plays: no
// start line, status 3 with the level it needs, and no exception.
TEST(LoopcheckMonitorRun, ALoopTooWeakIsRefusedBeforeItStarts)
{
    const monitored m = monitor({.gain_db = -86.0});
    const std::string message = verdict_message(m.verdict);
    EXPECT_FALSE(m.outcome.end.ran);
    EXPECT_EQ(m.lines.starts, 0);
    EXPECT_EQ(m.verdict.status, check_status::no_loop);
    EXPECT_NE(message.find("-86.0 dB"), std::string::npos) << message;
    EXPECT_NE(message.find("-80 dB or more"), std::string::npos) << message;
    // The report's not_run says why, in the same words.
    EXPECT_EQ(m.outcome.end.reason.find("the loop is too weak for --monitor"), 0u) << m.outcome.end.reason;
}
