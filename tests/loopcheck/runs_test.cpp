// The run logic driven by a scripted stream: the callback called cycle by
// cycle on the main thread by the wait itself, its input the loop's answer to
// what it played, with flags, skipped cycles, zeros, slips, stalls and stray
// clicks where each row of the table puts them.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <optional>
#include <vector>

#include "analysis/sweep.hpp"
#include "common/loopcheck_session.hpp"
#include "common/rig.hpp"
#include "loopcheck/io/stream_script.hpp"

namespace {

// Something that happens at a frame counted from the start of the k-th sweep played.
struct at {
    int sweep = 0;
    int64_t offset = 0;
};

struct script {
    int64_t delay = 600;  // the loop's delay, frames
    double gain = 0.5;
    double noise_dbfs = -400.0;    // white noise's RMS, dB re full scale
    bool sixteen_bits = false;     // the input quantised to 16 bits
    std::vector<at> flags = {};    // the call holding this frame reports an input overflow
    std::vector<at> skips = {};    // the cycle holding this frame is skipped: the callback never sees it
    std::vector<at> zeros = {};    // 100 frames of digital silence from here
    std::optional<at> slip = {};   // the delay grows by 3 frames from here on, without a flag
    std::optional<at> stall = {};  // the stream stops here once: the wait gives up
    std::optional<at> click = {};  // a stray click of 0.9 here
    bool never = false;            // no frames at all
};

// The loop, played cycle by cycle: each cycle's input is the answer to the output
// of delay frames before, in the time the server keeps (a skipped cycle moves it
// on without the callback).
class scripted_stream {
public:
    scripted_stream(stream& s, const script& sc) : s_(s), sc_(sc), stall_pending_(sc.stall.has_value()) {}

    bool wait(int64_t until)
    {
        if (sc_.never)
            return false;
        while (stream_frames_done(s_) < until) {
            if (stall_pending_ && due(*sc_.stall, stream_frames_done(s_), period)) {
                stall_pending_ = false;
                return false;
            }
            cycle();
        }
        return true;
    }

private:
    // The frame at of the stream's count, once its sweep has been scheduled.
    std::optional<int64_t> frame_of(const at& a) const
    {
        if (a.sweep >= static_cast<int>(starts_.size()))
            return std::nullopt;
        return starts_[a.sweep] + a.offset;
    }
    bool due(const at& a, int64_t first, int64_t frames) const
    {
        const std::optional<int64_t> f = frame_of(a);
        return f && *f >= first && *f < first + frames;
    }
    bool any_due(const std::vector<at>& list, int64_t first) const
    {
        for (const at& a : list)
            if (due(a, first, period))
                return true;
        return false;
    }

    double noise()
    {
        seed_ = seed_ * 6364136223846793005ull + 1442695040888963407ull;
        const double uniform = static_cast<double>(seed_ >> 11) / 9007199254740992.0 - 0.5;
        return uniform * std::sqrt(12.0) * std::pow(10.0, sc_.noise_dbfs / 20.0);
    }

    void cycle()
    {
        const int64_t first = stream_frames_done(s_);
        const int64_t start = stream_script_next_start(s_);
        if (start >= 0 && (starts_.empty() || starts_.back() != start))
            starts_.push_back(start);
        if (any_due(sc_.skips, first)) {
            // The server's time moves on by a cycle the client never sees;
            // what it plays meanwhile is silence.
            sc_.skips.clear();
            time_ += period;
            played_.resize(static_cast<size_t>(time_), 0.0f);
        }
        std::vector<float> in(period), out(period);
        for (int64_t i = 0; i < period; i++) {
            const int64_t frame = first + i, source = time_ + i - sc_.delay - slipped(frame);
            double v = source >= 0 && source < static_cast<int64_t>(played_.size()) ? sc_.gain * played_[source] : 0.0;
            v += noise();
            if (sc_.click && frame_of(*sc_.click) == frame)
                v += 0.9;
            if (sc_.sixteen_bits)
                v = std::nearbyint(v * 32768.0) / 32768.0;
            for (const at& z : sc_.zeros)
                if (frame_of(z) && frame >= *frame_of(z) && frame < *frame_of(z) + 100)
                    v = 0.0;
            in[i] = static_cast<float>(v);
        }
        const unsigned flags = any_due(sc_.flags, first) ? xrun_input_overflow : 0u;
        stream_script_cycle(s_, in.data(), out.data(), period, flags, static_cast<uint32_t>(time_));
        played_.insert(played_.end(), out.begin(), out.end());
        time_ += period;
    }

    int64_t slipped(int64_t frame) const
    {
        return sc_.slip && frame_of(*sc_.slip) && frame >= *frame_of(*sc_.slip) ? 3 : 0;
    }

    stream& s_;
    script sc_;
    std::vector<int64_t> starts_;
    std::vector<float> played_;
    int64_t time_ = 0;
    bool stall_pending_;
    uint64_t seed_ = 12345;
};

// The latency mode itself on the scripted stream: its sweeps given to the
// stream, the stream started, its run and its judgement.
struct measured {
    latency_outcome outcome;
    stream_ptr state;
    check_verdict verdict;
    const latency_facts& facts() const { return outcome.measured; }
};

measured measure(const script& sc, const latency_plan& o)
{
    measured m;
    m.state = stream_script_open(rate, true);
    stream& s = *m.state;
    const mode_row& mode = test_mode("latency");
    std::any plan = o;
    mode.prepare(plan, s);
    stream_ring_need(s, 1 << 20);
    stream_start(s);
    scripted_stream stream(s, sc);
    mode_run run{s, [&stream](int64_t until) { return stream.wait(until); }, nullptr, {}, {}};
    m.outcome = std::any_cast<latency_outcome>(mode.run(plan, {}, run));
    const mode_judgement judged = mode.judge(m.outcome);
    const mode_judgement* all[] = {&judged};
    m.verdict = verdict_fold(all);
    return m;
}

latency_plan options(double max_delay_s = 0.5, bool response = false, double level_dbfs = -12.0)
{
    latency_plan o;
    o.max_delay_s = max_delay_s;
    o.settle_s = 0.0;
    o.level_dbfs = level_dbfs;
    if (response)
        o.response_file = "/dev/null";  // the response measured, its file written to nowhere
    return o;
}

}  // namespace

// The short sweep is 4096 frames and the loop 600, so its answer spans frames
// 600 .. 4695 after the sweep's start, and the tail 125 ms (6000 frames) after it.
TEST(LoopcheckRuns, EverySpoiledRunIsCaughtAndRetried)
{
    struct row {
        const char* name;
        script sc;
        latency_plan o;
        check_status status;
        int attempts;  // of the first run; 0 when there is none
        double latency;
    };
    const row rows[] = {
        {"clean", {}, options(), check_status::ok, 1, 600.0},
        {"a flag in the answer, then one in the tail",
         {.flags = {{0, 2000}, {0, 9000}}},
         options(),
         check_status::ok,
         2,
         600.0},
        {"a skipped cycle in the answer", {.skips = {{0, 2000}}}, options(), check_status::ok, 2, 600.0},
        {"a flag in the response's tail",
         {.flags = {{0, 600 + 40960 + 12000}}},
         options(0.5, true),
         check_status::ok,
         2,
         600.0},
        {"a flag in the response's quiet lead",
         {.flags = {{0, -1000}}},
         options(0.5, true),
         check_status::ok,
         2,
         600.0},
        {"digital silence in the answer", {.zeros = {{0, 3000}}}, options(), check_status::ok, 2, 600.0},
        {"a stalled capture with a late stray click",
         {.zeros = {{0, 500}}, .stall = at{0, 5000}, .click = at{0, 4500}},
         options(0.05),
         check_status::ok,
         3,  // the retry's peak is confirmed by a third sweep at another spacing
         600.0},
        {"a loop beyond --max-delay, its first attempt spoiled",
         {.delay = 40000, .flags = {{0, 2000}}},
         options(),
         check_status::no_loop,  // an earlier sweep's answer lands in range, twice: never a number
         0,
         0.0},
        {"a loop beyond --max-delay, its first two attempts spoiled",
         {.delay = 40000, .flags = {{0, 2000}, {1, 2000}}},
         options(),
         check_status::no_loop,
         0,
         0.0},
        {"a loop beyond --max-delay", {.delay = 40000}, options(), check_status::no_loop, 0, 0.0},
        {"a quiet 16-bit sweep's own zeros",
         {.gain = 1.0, .sixteen_bits = true},
         options(0.5, false, -70.0),
         check_status::ok,
         1,
         600.0},
        {"a flag every run", {.flags = {{0, 2000}, {1, 2000}, {2, 2000}}}, options(), check_status::unstable, 0, 0.0},
        {"no loop", {.gain = 0.0, .noise_dbfs = -60.0}, options(), check_status::no_loop, 0, 0.0},
        {"no frames at all", {.never = true}, options(), check_status::error, 0, 0.0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        const measured m = measure(r.sc, r.o);
        const std::vector<run_report>& runs = m.facts().runs;
        EXPECT_EQ(m.verdict.status, r.status)
            << verdict_message(m.verdict)
            << (runs.empty() ? ""
                             : " " + std::to_string(runs[0].result.latency) + " ± " +
                                   std::to_string(runs[0].result.latency_uncertainty) + " snr " +
                                   std::to_string(runs[0].result.snr_db));
        ASSERT_EQ(runs.size(), r.attempts > 0 ? 1u : 0u);
        if (r.attempts == 0)
            continue;
        EXPECT_EQ(runs[0].attempts, r.attempts) << testing::PrintToString(runs[0].dropouts);
        EXPECT_NEAR(runs[0].result.latency, r.latency, 0.01);
    }
}

// An input that brings back nothing at all, not even noise, is named as
// digital silence, and is not kept waiting for the long sweep, which cannot
// change it; an input with only noise on it is still given the long sweep.
// Exact zeros are no signal whatever the xruns did: a loaded machine that
// spoils every attempt of a silent input does not make it unstable (it did,
// through ALSA's jack plugin), while a noisy input spoiled so still is.
TEST(LoopcheckRuns, NothingWiredIsNamedAsDigitalSilence)
{
    struct row {
        const char* name;
        script sc;
        check_status status;
        const char* said;
    };
    const std::vector<at> every_attempt = {{0, 2000}, {1, 2000}, {2, 2000}};
    const row rows[] = {
        {"nothing wired",
         {.gain = 0.0, .noise_dbfs = -1000.0},
         check_status::no_loop,
         "input 1 of \"scripted\" was digital silence"},
        {"only noise", {.gain = 0.0, .noise_dbfs = -60.0}, check_status::no_loop, "check the cable"},
        {"nothing wired, every attempt spoiled",
         {.gain = 0.0, .noise_dbfs = -1000.0, .flags = every_attempt},
         check_status::no_loop,
         "input 1 of \"scripted\" was digital silence"},
        {"nothing wired, the first attempt spoiled",
         {.gain = 0.0, .noise_dbfs = -1000.0, .flags = {{0, 2000}}},
         check_status::no_loop,
         "input 1 of \"scripted\" was digital silence"},
        {"only noise, every attempt spoiled",
         {.gain = 0.0, .noise_dbfs = -60.0, .flags = every_attempt},
         check_status::unstable,
         "spoiled 3 times"},
    };
    int64_t frames[2] = {};
    for (size_t i = 0; i < std::size(rows); i++) {
        SCOPED_TRACE(rows[i].name);
        const measured m = measure(rows[i].sc, options());
        EXPECT_EQ(m.verdict.status, rows[i].status) << verdict_message(m.verdict);
        EXPECT_NE(verdict_message(m.verdict).find(rows[i].said), std::string::npos) << verdict_message(m.verdict);
        if (i < 2)
            frames[i] = stream_frames_done(*m.state);
    }
    // The long sweep alone is 1.4 s: the silent input ends well before the noisy one.
    EXPECT_LT(frames[0] + std::lrint(1.0 * rate), frames[1]);
}

// A loop too weak for the short sweep is measured again with the long one
// before it is called no loop, and its latency lies within its uncertainty.
TEST(LoopcheckRuns, AWeakLoopIsFoundWithTheLongSweep)
{
    const measured m = measure({.gain = 0.003, .noise_dbfs = -46.0}, options());
    ASSERT_EQ(m.verdict.status, check_status::ok) << verdict_message(m.verdict);
    const run_report& run = m.facts().runs[0];
    EXPECT_TRUE(run.lengthened);
    EXPECT_LT(run.result.snr_db, 40.0);
    EXPECT_LE(std::fabs(run.result.latency - 600.0), 3.0 * run.result.latency_uncertainty);
    EXPECT_GT(run.result.latency_uncertainty, 0.001);
}

// Frames that slip without a flag during the answer: either the run is
// spoiled, or its uncertainty reaches from its latency to a delay the loop had.
TEST(LoopcheckRuns, ASlipInTheAnswerIsNeverACleanNumber)
{
    for (const int64_t offset : {1500, 2600, 4000}) {
        SCOPED_TRACE(offset);
        const measured m = measure({.slip = at{0, offset}}, options());
        if (m.verdict.status != check_status::ok)
            continue;
        const run_result& x = m.facts().runs[0].result;
        const double u = x.latency_uncertainty;
        EXPECT_TRUE(std::fabs(x.latency - 600.0) <= u || std::fabs(x.latency - 603.0) <= u) << x.latency << " ± " << u;
    }
}

// Every run of a response gets the quiet frames its noise needs: the second
// of two runs reads the SNRs the first does, within a few dB, never "200".
TEST(LoopcheckRuns, EveryResponseRunMeasuresItsNoise)
{
    const auto median_snr = [](const latency_facts& r) {
        std::vector<double> snr;
        for (const response_row& row : r.response_rows)
            if (row.hz > 100.0 && row.hz < 10000.0)
                snr.push_back(row.snr_db);
        std::sort(snr.begin(), snr.end());
        return snr.empty() ? std::nan("") : snr[snr.size() / 2];
    };
    latency_plan twice = options(0.5, true);
    twice.repeat = 2;
    const measured one = measure({.noise_dbfs = -60.0}, options(0.5, true));
    const measured two = measure({.noise_dbfs = -60.0}, twice);
    ASSERT_EQ(one.verdict.status, check_status::ok);
    ASSERT_EQ(two.verdict.status, check_status::ok);
    for (const response_row& row : two.facts().response_rows)
        ASSERT_FALSE(std::isnan(row.snr_db)) << row.hz;
    EXPECT_NEAR(median_snr(two.facts()), median_snr(one.facts()), 3.0);
    EXPECT_LT(median_snr(one.facts()), 150.0);
}

// What the report draws is kept without --response too: the short sweep's
// response with its noise measured; and for a run that finds no loop, the
// impulse response it saw around its largest tap.
TEST(LoopcheckRuns, TheReportKeepsTheResponseAndTheFailedRunsImpulseResponse)
{
    latency_plan o = options();
    o.report = true;
    const measured found = measure({.noise_dbfs = -60.0}, o);
    ASSERT_EQ(found.verdict.status, check_status::ok) << verdict_message(found.verdict);
    EXPECT_FALSE(found.facts().has_response);
    ASSERT_FALSE(found.facts().response_rows.empty());
    EXPECT_NEAR(found.facts().response_rows.back().hz, rate / 2.0, response_row_hz);
    for (const response_row& row : found.facts().response_rows)
        ASSERT_FALSE(std::isnan(row.snr_db)) << row.hz;

    const measured none = measure({.gain = 0.0, .noise_dbfs = -60.0}, o);
    const latency_facts& seen = none.facts();
    ASSERT_EQ(none.verdict.status, check_status::no_loop);
    ASSERT_TRUE(seen.has_seen);
    EXPECT_FALSE(seen.seen.loop);
    ASSERT_EQ(seen.ir.size(), 1281u);
    EXPECT_EQ(seen.ir_first, seen.seen.peak - 256);
    EXPECT_EQ(std::fabs(seen.ir[256]), std::fabs(seen.seen.peak_value));
}
