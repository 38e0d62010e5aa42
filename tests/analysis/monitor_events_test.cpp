// Every glitch its own event, on exactly synthesised captures
// (tests/common/monitor_synth.hpp): glitches close together in pairs and
// threes of every kind, a slip just after the stimulus is found again, a mute
// through a converter's filter, a polarity or level change, a burst while the
// residue is learnt, and the xrun window on a long loop. The synthesis knows
// where it put each glitch, so each event is held to its frame, kind and size.
#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <string>
#include <vector>

#include "analysis/monitor.hpp"
#include "common/monitor_synth.hpp"

namespace {

using synth::what;

std::string events_listed(const std::vector<monitor_event>& events)
{
    std::string s;
    for (const monitor_event& e : events)
        s += std::string(monitor_kind_name(e.kind)) + " " + std::to_string(e.frames) + " at " +
             std::to_string(e.frame) + "; ";
    return s;
}

const monitor_stimulus& events_stimulus()
{
    static const monitor_stimulus s = monitor_stimulus_design(48000.0, monitor_default_level_dbfs);
    return s;
}

struct events_outcome {
    std::vector<monitor_event> events;
    monitor_summary summary;
};

// seconds of the synthesis with its glitches, fed in blocks of 1000 (the
// loop's latency as the detector is told it: the synthesis's, whole).
events_outcome events_run(const synth::options& o, const std::vector<synth::glitch>& glitches, double seconds,
                          int64_t xrun_first = -1, int64_t xrun_end = -1)
{
    const monitor_stimulus s =
        o.rate == 48000.0 ? events_stimulus() : monitor_stimulus_design(o.rate, monitor_default_level_dbfs);
    synth::interface capture(s, o, glitches);
    monitor_detector d = monitor_detector_make(s, monitor_loop{std::round(o.latency), o.gain, 0});
    if (xrun_first >= 0)
        monitor_xrun(d, xrun_first, xrun_end);
    events_outcome out;
    std::vector<float> block(1000);
    for (int64_t at = 0; at < std::llround(seconds * o.rate); at += 1000) {
        capture.fill(block);
        monitor_feed(d, block, at, false, out.events);
    }
    out.summary = monitor_summarise(d);
    return out;
}

// What a glitch of the synthesis reads as.
struct expected_event {
    monitor_kind kind;
    int64_t frames;  // -1: any
};

expected_event reads_as(const synth::glitch& g)
{
    switch (g.kind) {
    case what::capture_drop:
    case what::playback_drop: return {monitor_kind::dropped, g.frames};
    case what::capture_insert:
    case what::playback_insert:
    case what::underrun: return {monitor_kind::inserted, g.frames};
    case what::capture_zeros:
    case what::playback_zeros: return {monitor_kind::zeros, g.frames};
    case what::click: return {monitor_kind::discontinuity, 1};
    case what::burst: return {monitor_kind::discontinuity, -1};
    case what::level: return {monitor_kind::level, -1};
    case what::polarity: return {monitor_kind::polarity, -1};
    case what::rate_step: return {monitor_kind::rate, -1};
    }
    return {monitor_kind::discontinuity, -1};
}

const char* what_name(what k)
{
    switch (k) {
    case what::capture_drop: return "capture drop";
    case what::capture_insert: return "capture insert";
    case what::capture_zeros: return "capture zeros";
    case what::playback_drop: return "playback drop";
    case what::playback_insert: return "playback insert";
    case what::playback_zeros: return "mute";
    case what::underrun: return "underrun";
    case what::click: return "click";
    case what::burst: return "burst";
    case what::level: return "level";
    case what::polarity: return "polarity";
    case what::rate_step: return "rate step";
    }
    return "?";
}

// Each glitch one event, in order, of its kind and size, within `slack` frames of its frame.
void expect_each(const events_outcome& o, const std::vector<synth::glitch>& glitches, int64_t slack)
{
    ASSERT_EQ(o.events.size(), glitches.size()) << events_listed(o.events);
    for (size_t i = 0; i < glitches.size(); i++) {
        const expected_event x = reads_as(glitches[i]);
        const monitor_event& e = o.events[i];
        EXPECT_EQ(monitor_kind_name(e.kind), std::string(monitor_kind_name(x.kind)))
            << i << ": " << events_listed(o.events);
        if (x.frames >= 0) {
            EXPECT_EQ(e.frames, x.frames) << i << ": " << events_listed(o.events);
        }
        EXPECT_NEAR(static_cast<double>(e.frame), static_cast<double>(glitches[i].frame), static_cast<double>(slack))
            << i << ": " << events_listed(o.events);
    }
}

}  // namespace

// The captured frames a glitch covers: a repeat's copy, zeros, an
// underrun's silence (none for a drop, a click, a change of gain).
int64_t extent(const synth::glitch& g)
{
    switch (g.kind) {
    case what::capture_insert:
    case what::capture_zeros:
    case what::playback_zeros:
    case what::underrun:
    case what::burst: return g.frames;
    default: return 0;
    }
}

// Two glitches 1 and 5 ms apart (from the end of the first to the start of
// the second), of every pair of kinds (slips at either end, zeros, a mute, a
// click, a change of level or polarity), and threes: each its own event in
// order, its kind and size exact, within 2 frames of its frame.
// Before, the stretch between a trigger and the fit was parted only by two
// slips of different alignments: zeros 8 and zeros 8 read one discontinuity
// 104; drop then zeros, zeros then drop, click then drop one dropped 64; a
// drop, a repeat and a drop (an xrun's capture and playback halves) one.
// One case a first kind (each about a second of CPU), the second of every kind.
class MonitorCloseGlitches : public testing::TestWithParam<int> {};

const synth::glitch close_kinds[] = {
    {what::capture_drop, 0, 64, 0.0},   {what::capture_insert, 0, 64, 0.0}, {what::capture_zeros, 0, 8, 0.0},
    {what::playback_drop, 0, 256, 0.0}, {what::underrun, 0, 48, 0.0},       {what::playback_zeros, 0, 48, 0.0},
    {what::click, 0, 1, 0.01},          {what::level, 0, 0, 0.5},           {what::polarity, 0, 0, 0.0},
};

TEST_P(MonitorCloseGlitches, EachTheirOwnEvent)
{
    const synth::glitch& a = close_kinds[GetParam()];
    synth::options o;
    o.latency = 300.0;
    int checked = 0;
    for (const double ms : {1.0, 5.0})
        for (const synth::glitch& b : close_kinds) {
            // Two changes of the gain together read as one change of it: not a pair the detector can part.
            const auto gain = [](what k) { return k == what::level || k == what::polarity; };
            if (gain(a.kind) && gain(b.kind))
                continue;
            SCOPED_TRACE(testing::Message()
                         << what_name(a.kind) << " then " << what_name(b.kind) << ", " << ms << " ms apart");
            // 0.17 s after the residue is learnt; 0.25 s after the pair.
            std::vector<synth::glitch> g{a, b};
            g[0].frame = 36000, g[1].frame = 36000 + extent(a) + std::llround(ms * 48.0);
            expect_each(events_run(o, g, 1.05), g, 2);
            checked++;
        }
    EXPECT_EQ(checked, (a.kind == what::level || a.kind == what::polarity) ? 14 : 18);
}

INSTANTIATE_TEST_SUITE_P(EveryFirstKind, MonitorCloseGlitches,
                         testing::Range(0, static_cast<int>(std::size(close_kinds))));

TEST(MonitorEvents, ThreeGlitchesCloseTogetherAreThree)
{
    struct row {
        synth::glitch a, b, c;
    };
    const row rows[] = {
        // An xrun's halves: a capture buffer lost, 5 ms later one delivered twice, and right after
        // its copy one lost (the second and third cancelling).
        {{what::capture_drop, 60000, 64, 0.0},
         {what::capture_insert, 60240, 256, 0.0},
         {what::capture_drop, 60496, 256, 0.0}},
        {{what::capture_zeros, 60000, 8, 0.0},
         {what::capture_zeros, 60096, 8, 0.0},
         {what::capture_zeros, 60192, 8, 0.0}},
        {{what::click, 60000, 1, 0.01}, {what::capture_drop, 60096, 64, 0.0}, {what::click, 60192, 1, 0.01}},
        {{what::capture_drop, 60000, 64, 0.0},
         {what::capture_zeros, 60096, 48, 0.0},
         {what::capture_insert, 60240, 32, 0.0}},
        {{what::underrun, 60000, 48, 0.0}, {what::playback_drop, 60240, 48, 0.0}, {what::polarity, 60480, 0, 0.0}},
    };
    synth::options o;
    o.latency = 300.0;
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << what_name(r.a.kind) << ", " << what_name(r.b.kind) << ", "
                                        << what_name(r.c.kind));
        const std::vector<synth::glitch> g{r.a, r.b, r.c};
        expect_each(events_run(o, g, 1.6), g, 2);
    }
}

// The stimulus gone for 0.3 s (lost), back, and a slip 20 ms after it came
// back: lost, found, and the slip with its kind and size (before, a slip
// within about 85 ms after `found` was swallowed: only lost and a late found).
TEST(MonitorEvents, ASlipJustAfterFoundIsReported)
{
    struct row {
        synth::glitch slip;
        int64_t after;  // frames after the stimulus came back
    };
    for (const row r : {row{{what::capture_drop, 0, 64, 0.0}, 960}, row{{what::capture_insert, 0, 128, 0.0}, 480},
                        row{{what::capture_drop, 0, 100, 0.0}, 2400}, row{{what::click, 0, 1, 0.01}, 960}}) {
        SCOPED_TRACE(testing::Message() << what_name(r.slip.kind) << " " << r.slip.frames << ", " << r.after
                                        << " frames after the stimulus came back");
        synth::options o;
        o.latency = 300.0;
        const int64_t gone = 60000, back = gone + 14400;
        synth::glitch slip = r.slip;
        slip.frame = back + r.after;
        const std::vector<synth::glitch> g{{what::capture_zeros, gone, back - gone, 0.0}, slip};
        const events_outcome out = events_run(o, g, 2.2);
        ASSERT_EQ(out.events.size(), 3u) << events_listed(out.events);
        EXPECT_EQ(out.events[0].kind, monitor_kind::lost);
        EXPECT_NEAR(static_cast<double>(out.events[0].frame), static_cast<double>(gone), 2.0);
        EXPECT_EQ(out.events[1].kind, monitor_kind::found);
        EXPECT_NEAR(static_cast<double>(out.events[1].frame), static_cast<double>(back), 2.0);
        const expected_event x = reads_as(slip);
        EXPECT_EQ(out.events[2].kind, x.kind) << events_listed(out.events);
        EXPECT_EQ(out.events[2].frames, x.frames) << events_listed(out.events);
        EXPECT_NEAR(static_cast<double>(out.events[2].frame), static_cast<double>(slip.frame), 2.0);
    }
}

// A mute of 480 played frames through a 63-tap linear-phase filter (and
// through a 127-tap one, 4800 through the 63-tap one at 150 ppm, 1000 at
// -40 and at 20 ppm): zeros of that length at its frame, the filter's
// ringing either side allowed (before: a discontinuity of about 530; of 1045
// for loopsim's 1000 at 20 ppm through its resampler). At 192 kHz and
// -140 dBFS through 127 taps, the clock wandering 3 ppm over 5 s, two
// noises: zeros too (before, two to four discontinuities from up to 570
// frames before it: the chunk that reached into the mute spoilt the delay's
// refit of the clean frames before it, which the lagging loop needs there).
TEST(MonitorEvents, AMuteThroughAConverterFilterIsZeros)
{
    struct row {
        int half;  // the filter's 2 half + 1 taps
        int64_t frames;
        double ppm;
        double rate = 48000.0, noise_dbfs = -90.0, wander_rms = 0.0;
        uint64_t seed = 1;
    };
    for (const row r :
         {row{31, 480, 0.0}, row{63, 480, 0.0}, row{31, 4800, 150.0}, row{31, 1000, -40.0}, row{63, 1000, 20.0},
          row{63, 989, -15.0, 192000.0, -140.0, 3.0, 1}, row{63, 989, -15.0, 192000.0, -140.0, 3.0, 3}}) {
        SCOPED_TRACE(testing::Message() << r.frames << " muted through " << 2 * r.half + 1 << " taps at " << r.ppm
                                        << " ppm, " << r.rate << " Hz, " << r.noise_dbfs << " dBFS, seed " << r.seed);
        synth::options o;
        o.latency = 300.0, o.filter_half = r.half, o.ppm = r.ppm;
        o.rate = r.rate, o.noise_rms = std::pow(10.0, r.noise_dbfs / 20.0), o.wander_rms = r.wander_rms;
        o.wander_tau = 5.0, o.seed = r.seed;
        // At 192 kHz: 9000 frames of latency, the mute 1.56 s in.
        if (r.rate > 96000.0)
            o.latency = 9000.0;
        const int64_t at = r.rate > 96000.0 ? 300000 : 60000;
        const std::vector<synth::glitch> g{{what::playback_zeros, at, r.frames, 0.0}};
        const events_outcome out = events_run(o, g, static_cast<double>(at) / r.rate + 0.55);
        ASSERT_EQ(out.events.size(), 1u) << events_listed(out.events);
        EXPECT_EQ(out.events[0].kind, monitor_kind::zeros);
        // A mute of N played frames lasts N (1 + ppm 1e-6) captured ones.
        EXPECT_NEAR(static_cast<double>(out.events[0].frames), static_cast<double>(r.frames) * (1.0 + r.ppm * 1e-6),
                    1.0);
        EXPECT_NEAR(static_cast<double>(out.events[0].frame), static_cast<double>(at), 2.0);
    }
}

// The loop's polarity flips, or its gain halves, at a frame: one event of its
// own, the gain before and after it signed, the delay unchanged within 0.01
// frame (before: a discontinuity with a delay change of some 2676 frames,
// the delay wrong from then on), and on the same clock and delay after it.
TEST(MonitorEvents, APolarityOrLevelChangeKeepsTheDelay)
{
    struct row {
        what kind;
        double value, gain_after;
        double ppm;
        int half;
    };
    for (const row r : {row{what::polarity, 0.0, -0.5, 0.0, 0}, row{what::polarity, 0.0, -0.5, 150.0, 31},
                        row{what::level, 0.5, 0.25, 0.0, 0}, row{what::level, 2.0, 1.0, -300.0, 0}}) {
        SCOPED_TRACE(testing::Message() << what_name(r.kind) << " " << r.value << " at " << r.ppm << " ppm");
        synth::options o;
        o.latency = 300.25, o.ppm = r.ppm, o.filter_half = r.half;
        const std::vector<synth::glitch> g{{r.kind, 60000, 0, r.value}};
        const events_outcome out = events_run(o, g, 2.0);
        ASSERT_EQ(out.events.size(), 1u) << events_listed(out.events);
        const monitor_event& e = out.events[0];
        EXPECT_EQ(e.kind, r.kind == what::polarity ? monitor_kind::polarity : monitor_kind::level);
        EXPECT_NEAR(static_cast<double>(e.frame), 60000.0, 2.0);
        EXPECT_NEAR(e.delay_change, 0.0, 0.01);
        EXPECT_NEAR(e.gain_before, 0.5, 0.01);
        EXPECT_NEAR(e.gain_after, r.gain_after, 0.01);
        EXPECT_EQ(out.summary.events, 0);  // no glitch
        EXPECT_TRUE(out.summary.locked);
        const double slid = r.ppm * 1e-6 * static_cast<double>(out.summary.delay_end_at);
        EXPECT_NEAR(out.summary.delay_end_frames, 300.25 + slid, 0.01);
    }
}

// A burst of 6 frames at 0.05 of the signal's RMS while the residue is
// learnt: an event that says the learning began again after it, the
// threshold within 1 dB of a clean run's, and a click at -34 dB of the
// signal 0.5 s later found (before: the threshold 23 dB up, the click
// missed, and nothing said).
TEST(MonitorEvents, ABurstWhileLearningIsReportedAndLearntAgain)
{
    synth::options o;
    o.latency = 300.0;
    const double signal = 0.5 * std::pow(10.0, monitor_default_level_dbfs / 20.0);
    const int64_t click_at = 60000;
    const double click = signal * std::pow(10.0, -34.0 / 20.0);
    const events_outcome clean = events_run(o, {}, 1.5);
    ASSERT_TRUE(clean.events.empty()) << events_listed(clean.events);
    for (const int64_t burst_at : {int64_t{26000}, int64_t{30000}, int64_t{34000}}) {
        SCOPED_TRACE(testing::Message() << "burst at " << burst_at);
        const std::vector<synth::glitch> g{{what::burst, burst_at, 6, 0.05 * signal},
                                           {what::click, click_at, 1, click}};
        const events_outcome out = events_run(o, g, 1.5);
        ASSERT_EQ(out.events.size(), 2u) << events_listed(out.events);
        EXPECT_EQ(out.events[0].kind, monitor_kind::discontinuity);
        EXPECT_TRUE(out.events[0].learning_restarted);
        EXPECT_NEAR(static_cast<double>(out.events[0].frame), static_cast<double>(burst_at), 6.0);
        EXPECT_EQ(out.summary.learning_restarts, 1);
        EXPECT_NEAR(out.summary.residue_db, clean.summary.residue_db, 1.0);
        EXPECT_EQ(out.events[1].kind, monitor_kind::discontinuity);
        EXPECT_FALSE(out.events[1].learning_restarted);
        EXPECT_NEAR(static_cast<double>(out.events[1].frame), static_cast<double>(click_at), 1.0);
    }
}

// The xrun window on a loop of 100 ms: a playback underrun shows in the
// capture a round trip after the call the host flagged, so the window runs
// from 50 ms before the flagged frames to 50 ms and the latency after them
// (before: 50 ms either side, and a playback xrun on a 100 ms loop never
// marked its glitch).
TEST(MonitorEvents, TheXrunWindowHoldsTheRoundTrip)
{
    synth::options o;
    o.latency = 4800.0;
    const int64_t glitch_at = 70000, margin = 2400, trip = 4800;
    const std::vector<synth::glitch> g{{what::capture_drop, glitch_at, 64, 0.0}};
    struct row {
        int64_t first, end;  // the flagged call's frames
        bool flagged;
    };
    // The call 100 ms before the glitch (its underrun a round trip later), just inside and just
    // outside the window's far end, and the window's near end.
    const int64_t far_end = glitch_at - trip - margin;
    for (const row r :
         {row{glitch_at - trip - 256, glitch_at - trip, true}, row{far_end - 256, far_end + 1, true},
          row{far_end - 266, far_end - 9, false}, row{glitch_at + margin - 1, glitch_at + margin + 255, true},
          row{glitch_at + margin + 10, glitch_at + margin + 266, false}}) {
        SCOPED_TRACE(testing::Message() << "flagged " << r.first << " .. " << r.end);
        const events_outcome out = events_run(o, g, 1.9, r.first, r.end);
        ASSERT_EQ(out.events.size(), 1u) << events_listed(out.events);
        EXPECT_EQ(out.events[0].xrun_flagged, r.flagged);
    }
}
