// The detector keeps up with the stream, and a gap in the frames it is fed
// (loopcheck skips what its ring no longer holds when the detector fell
// behind: a monitor overrun) is no fault of its own. Work is counted, not
// timed (monitor_work: a tone of a frame predicted, a tone of a shift
// scored, a frame read), on exactly synthesised captures fed as loopcheck
// feeds them, 50 ms at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "analysis/monitor.hpp"
#include "common/monitor_synth.hpp"

namespace {

using synth::what;

constexpr double keeps_up_rate = 48000.0;
constexpr int64_t keeps_up_block = 2400;  // loopcheck's 50 ms

const monitor_stimulus& keeps_up_stimulus()
{
    static const monitor_stimulus s = monitor_stimulus_design(keeps_up_rate, monitor_default_level_dbfs);
    return s;
}

std::string keeps_up_listed(const std::vector<monitor_event>& events)
{
    std::string s;
    for (const monitor_event& e : events)
        s += std::string(monitor_kind_name(e.kind)) + " " + std::to_string(e.frames) + " at " +
             std::to_string(e.frame) + "; ";
    return s;
}

struct keeps_up_outcome {
    std::vector<monitor_event> events;
    monitor_summary summary;
    int64_t most_block_work = 0;   // the largest work one block of 50 ms cost
    int64_t clean_block_work = 0;  // the work of the block before the first glitch
    int64_t fed = 0;               // frames fed
};

// seconds of the synthesis fed 50 ms at a time; from frame gap_at (a
// block's first) gap frames are made but never fed, as loopcheck skips them.
keeps_up_outcome keeps_up_feed(const synth::options& o, const std::vector<synth::glitch>& glitches, double seconds,
                               int64_t gap_at = -1, int64_t gap = 0)
{
    synth::interface capture(keeps_up_stimulus(), o, glitches);
    monitor_detector d = monitor_detector_make(keeps_up_stimulus(), monitor_loop{std::round(o.latency), o.gain, 0});
    keeps_up_outcome out;
    std::vector<float> block(keeps_up_block), skipped(static_cast<size_t>(std::max<int64_t>(gap, 0)));
    const int64_t first_glitch = glitches.empty() ? -1 : glitches.front().frame;
    for (int64_t at = 0; at < std::llround(seconds * keeps_up_rate); at += keeps_up_block) {
        if (at == gap_at) {
            capture.fill(skipped);
            at += gap;
        }
        capture.fill(block);
        const int64_t before = monitor_work(d);
        monitor_feed(d, block, at, false, out.events);
        out.fed += keeps_up_block;
        const int64_t cost = monitor_work(d) - before;
        out.most_block_work = std::max(out.most_block_work, cost);
        if (at + 2 * keeps_up_block <= first_glitch)
            out.clean_block_work = cost;
    }
    out.summary = monitor_summarise(d);
    return out;
}

}  // namespace

// A glitch costs the search and its parting a bounded work, whatever its
// length: silences of 64 to 4096 frames (digital zero at the capture, an
// underrun's silence, a mute through a 63-tap filter), and the capture's
// buffers delivered twice (PipeWire's quantum run again), with and without
// noise. The bound: 40 million steps in one 50 ms block, about 0.2 s of a
// core on this machine; loopcheck's ring holds 4 s. Tracking costs some 35
// thousand a block (checked too: a clean block's work is that of tracking).
// Before, a literal repeat was looked for at every frame of a silence by
// comparing it with each of 8192 frames back, each comparison running on as
// long as silence met silence: a 1024-frame silence cost 2.5 x 10^9 steps
// (a second), 2048 frames 10^10 (4 s): loopcheck on PipeWire fell 5.8 s
// behind after a 1024-frame glitch.
TEST(MonitorKeepsUp, EachGlitchCostsABoundedWork)
{
    struct row {
        what kind;
        int64_t frames;
        int filter_half;
        double noise_rms;
    };
    const row rows[] = {
        {what::capture_zeros, 64, 0, 3.1623e-5},
        {what::capture_zeros, 1024, 0, 3.1623e-5},
        {what::capture_zeros, 4096, 0, 0.0},
        {what::underrun, 1024, 0, 0.0},
        {what::underrun, 4096, 31, 0.0},
        {what::playback_zeros, 1024, 31, 0.0},
        {what::playback_zeros, 4096, 0, 3.1623e-5},
        {what::capture_insert, 1024, 0, 0.0},
        {what::capture_insert, 1024, 0, 3.1623e-5},
        {what::playback_insert, 1024, 31, 3.1623e-5},
    };
    constexpr int64_t most_work = 40'000'000;
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << "kind " << static_cast<int>(r.kind) << ", " << r.frames << " frames, "
                                        << 2 * r.filter_half + 1 << " taps, noise " << r.noise_rms);
        synth::options o;
        o.latency = 2048.0, o.gain = 1.0, o.filter_half = r.filter_half, o.noise_rms = r.noise_rms;
        const std::vector<synth::glitch> g{{r.kind, 60000, r.frames, 0.0}};
        const keeps_up_outcome out = keeps_up_feed(o, g, 2.0);
        ASSERT_EQ(out.events.size(), 1u) << keeps_up_listed(out.events);
        EXPECT_EQ(out.events[0].frames, r.frames) << keeps_up_listed(out.events);
        EXPECT_LE(out.most_block_work, most_work);
        EXPECT_GT(out.clean_block_work, 10 * keeps_up_block);
        EXPECT_LT(out.clean_block_work, 40 * keeps_up_block);
    }
}

// Frames the caller skipped (a monitor overrun, or a host's gap): the
// stimulus looked for afresh after them, whatever the detector was doing,
// and nothing false reported for them. Gaps of 100 frames and of 5.8 s (the
// overrun PipeWire's run saw), while tracking, 30 ms after a glitch (its
// search cut short), while lost and while the residue is learnt. Before, a
// gap while tracking or searching left the search's start before it: the
// stretch from there to the fit after the gap, 5.8 s long, was parted in
// buffers sized for the ring's 0.68 s, and loopcheck crashed.
TEST(MonitorKeepsUp, AGapInTheFramesIsLookedForAfresh)
{
    struct row {
        const char* what;
        std::vector<synth::glitch> glitches;
        int64_t gap_at, gap;
        std::vector<monitor_kind> kinds;  // the events, in order
        int64_t lost_for;                 // a found's frames (-1: none)
    };
    const int64_t overrun = 279552;
    const row rows[] = {
        {"tracking, 100", {}, 96000, 100, {}, -1},
        {"tracking, 5.8 s", {}, 96000, overrun, {}, -1},
        {"30 ms after an insert, 5.8 s",
         {{what::underrun, 94560, 1024, 0.0}},
         96000,
         overrun,
         {},  // the search the gap cut short reports nothing
         -1},
        {"30 ms after a drop, 100",  // its search done before the gap
         {{what::capture_drop, 94560, 64, 0.0}},
         96000,
         100,
         {monitor_kind::dropped},
         -1},
        {"while lost, 5.8 s",
         {{what::capture_zeros, 72000, 48000 + overrun + 24000, 0.0}},
         96000,
         overrun,
         {monitor_kind::lost, monitor_kind::found},
         48000 + overrun + 24000},
        {"while learning, 100", {}, 26400, 100, {}, -1},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        synth::options o;
        o.latency = 2048.0, o.gain = 1.0;
        const keeps_up_outcome out =
            keeps_up_feed(o, r.glitches, 4.0 + static_cast<double>(r.gap) / keeps_up_rate, r.gap_at, r.gap);
        // A glitch just before the gap is reported before it or never (its
        // search cut short); nothing else but what the row names.
        const std::vector<monitor_event>& e = out.events;
        ASSERT_EQ(e.size(), r.kinds.size()) << keeps_up_listed(e);
        for (size_t i = 0; i < r.kinds.size(); i++)
            EXPECT_EQ(e[i].kind, r.kinds[i]) << keeps_up_listed(e);
        if (r.lost_for >= 0) {
            EXPECT_NEAR(static_cast<double>(e.back().frames), static_cast<double>(r.lost_for), 1024.0);
            // Lost is what was fed and not followed: the gap's frames are skipped, not lost.
            EXPECT_NEAR(static_cast<double>(out.summary.frames_lost), static_cast<double>(r.lost_for - r.gap), 1024.0);
        }
        EXPECT_TRUE(out.summary.locked);
        EXPECT_EQ(out.summary.frames_skipped, r.gap);
        // Every frame fed is checked or not, once, from where the stimulus
        // was followed: all but a locking on (0.58 s), or two for a gap while
        // the residue was learnt.
        EXPECT_LE(out.summary.frames_checked + out.summary.frames_unchecked, out.fed);
        EXPECT_GT(out.summary.frames_checked + out.summary.frames_unchecked, out.fed - 60000);
    }
}
