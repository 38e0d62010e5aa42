// loopcheck's callback: where a clip is played, what the ring keeps, and
// which calls the log keeps (status flags, a clock that jumped past missed cycles).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "common/rig.hpp"
#include "loopcheck/io/stream_load.hpp"
#include "loopcheck/io/stream_state.hpp"

namespace {

// Three output and two input channels, the loop on output 2 and input 2.
std::unique_ptr<stream_state> prepared()
{
    auto s = std::make_unique<stream_state>();
    s->clips.push_back({{0.5f, -0.25f, 0.125f}, false});
    s->out_channels = 3, s->out_channel[0] = 1, s->in_channels = 2, s->in_channel[0] = 1;
    s->clock_read = server_clock;
    stream_prepare(*s, 64);
    return s;
}

// One call of frames frames at the server's frame time (in frames), flags as
// given; input channel 2 carries 100 + the frame number.
std::vector<float> call(stream_state& s, int64_t frames, double time, PaStreamCallbackFlags flags = 0)
{
    server_frames = static_cast<uint32_t>(time);
    const int64_t first = s.frames_done.load();
    std::vector<float> in(2 * frames), out(3 * frames, 9.0f);
    for (int64_t i = 0; i < frames; i++)
        in[2 * i] = -1.0f, in[2 * i + 1] = static_cast<float>(100 + first + i);
    stream_callback(in.data(), out.data(), static_cast<unsigned long>(frames), nullptr, flags, &s);
    return out;
}

}  // namespace

TEST(LoopcheckStream, TheClipPlaysFromItsStartOnItsChannelAlone)
{
    const auto s = prepared();
    stream_schedule(*s, 6, 0);
    const std::vector<float> first = call(*s, 4, 0.0), second = call(*s, 4, 4.0);
    EXPECT_EQ(first, std::vector<float>(12, 0.0f));
    EXPECT_EQ(second, (std::vector<float>{0, 0, 0, 0, 0, 0, 0, 0.5f, 0, 0, -0.25f, 0}));
    std::vector<float> kept;
    ASSERT_TRUE(stream_capture_copy(*s, 2, 8, 0, kept));
    EXPECT_EQ(kept, (std::vector<float>{102, 103, 104, 105, 106, 107}));
    // Frames not yet handled, or written over since, are not there to copy.
    EXPECT_FALSE(stream_capture_copy(*s, 2, 9, 0, kept));
    for (int i = 0; i < 20; i++)
        call(*s, 4, 8.0 + 4 * i);
    EXPECT_FALSE(stream_capture_copy(*s, 2, 8, 0, kept));
}

TEST(LoopcheckStream, ALoopingClipPlaysOnAndOn)
{
    const auto s = prepared();
    s->clips[0].looping = true;
    stream_schedule(*s, 1, 0);
    const std::vector<float> out = call(*s, 8, 0.0);
    const std::vector<float> loop{0.0f, 0.5f, -0.25f, 0.125f, 0.5f, -0.25f, 0.125f, 0.5f};
    for (size_t i = 0; i < loop.size(); i++)
        EXPECT_EQ(out[3 * i + 1], loop[i]) << "frame " << i;
}

// Every flagged call and every missed cycle is logged, and a stretch of
// frames is told each one that concerns it, not only the last.
TEST(LoopcheckStream, TheLogKeepsEveryFlaggedCallAndMissedCycle)
{
    struct step {
        int64_t frames;
        double time;  // the server's frame counter
        PaStreamCallbackFlags flags;
    };
    const auto s = prepared();
    // The counter starts near its wrap: it runs on through 2^32.
    const double base = 4294967296.0 - 600.0;
    for (const step c : {step{256, 0, paPrimingOutput}, step{256, 256 + 256, 0},  // late: the next cycle's counter
                         step{256, 512, 0}, step{256, 768 + 256, 0},              // a whole cycle missing: at frame 768
                         step{256, 1024 + 256, paInputOverflow},                  // frames 1024..1279
                         step{256, 1280 + 256, 0}, step{256, 1536 + 256, paOutputUnderflow},  // 1536..1791
                         step{256, 1792 + 256, 0}})  // the lead still a buffer ahead: the gap stands
        call(*s, c.frames, std::fmod(base + c.time, 4294967296.0), c.flags);
    struct window {
        int64_t from, to, flagged, missed, first, last;
        unsigned flags;  // xrun_flag bits
    };
    constexpr unsigned both = xrun_input_overflow | xrun_output_underflow;
    for (const window w :
         {window{0, 768, 0, 0, -1, -1, 0},     // the priming is no dropout
          window{0, 769, 0, 1, 768, 768, 0},   // the gap lies before frame 768
          window{768, 1024, 0, 0, -1, -1, 0},  // ... not within 768..1023
          window{1000, 1600, 2, 0, 1024, 1536, both}, window{1279, 1280, 1, 0, 1024, 1024, xrun_input_overflow},
          window{1280, 1536, 0, 0, -1, -1, 0}, window{0, 4000, 2, 1, 768, 1536, both}}) {
        const stream_marks m = stream_marks_within(*s, w.from, w.to);
        EXPECT_EQ(m.flagged, w.flagged) << w.from << ".." << w.to;
        EXPECT_EQ(m.missed, w.missed) << w.from << ".." << w.to;
        EXPECT_EQ(m.first, w.first) << w.from << ".." << w.to;
        EXPECT_EQ(m.last, w.last) << w.from << ".." << w.to;
        EXPECT_EQ(m.flags, w.flags) << w.from << ".." << w.to;
        EXPECT_FALSE(m.lost);
    }
}

// A host that splits each cycle into four calls (PortAudio at a JACK period
// four times its buffer): the counter stands still between them, and no call
// is a missed cycle; a cycle skipped among them is.
TEST(LoopcheckStream, ACycleSplitIntoCallsIsNoMissedCycle)
{
    const auto s = prepared();
    int64_t cycle = 0, final = 0;  // final: frames before it will never gain a mark
    for (int c = 0; c < 12; c++, cycle += 1024) {
        if (c == 8)
            cycle += 1024;  // the server skips a cycle: the callback never sees frames of it
        for (int part = 0; part < 4; part++) {
            const int64_t written = s->marks_written.load();
            call(*s, 256, static_cast<double>(cycle));
            if (s->marks_written.load() > written) {
                EXPECT_GE(s->marks[static_cast<size_t>(written)].frame.load(), final)
                    << "a mark behind the final frames";
            }
            final = std::max(final, s->frames_done.load() - stream_marks_pending_frames(*s));
        }
    }
    const stream_marks m = stream_marks_within(*s, 0, 12 * 1024);
    EXPECT_EQ(m.missed, 1);
    EXPECT_EQ(m.first, 8 * 1024);
}

// More flagged calls than the log holds: a stretch whose marks may have been
// written over says so, one after them does not.
TEST(LoopcheckStream, AnOverflowingLogSaysWhatItLost)
{
    const auto s = prepared();
    for (int64_t i = 0; i < stream_mark_capacity + 10; i++)
        call(*s, 4, static_cast<double>(4 * i), paInputUnderflow);
    EXPECT_TRUE(stream_marks_within(*s, 0, 40).lost);
    const stream_marks late = stream_marks_within(*s, 4 * (stream_mark_capacity + 5), 4 * (stream_mark_capacity + 6));
    EXPECT_FALSE(late.lost);
    EXPECT_EQ(late.flagged, 1);
}

namespace {

// The scripted clock the load spins on: each reading a microsecond on.
int64_t script_ns = 0;
int64_t script_clock() { return script_ns += 1000; }

}  // namespace

// The callback stays busy for its share of every call at 64 and 1024 frames,
// within 2 % of the share asked, on a clock that moves a microsecond a reading;
// without --load it never reads the clock.
TEST(LoopcheckStream, TheLoadKeepsTheCallbackBusyForItsShare)
{
    for (const int64_t frames : {int64_t{64}, int64_t{1024}})
        for (const double share : {0.0, 0.1, 0.5, 0.7, 0.95}) {
            auto s = std::make_unique<stream_state>();
            s->clips.push_back({{0.5f}, false});
            stream_prepare(*s, 4096);
            s->load_clock = script_clock, s->load_rate = 48000.0;
            s->load_share.store(share);
            std::vector<float> in(static_cast<size_t>(frames)), out(static_cast<size_t>(frames));
            script_ns = 0;
            for (int call = 0; call < 10; call++)
                stream_callback(in.data(), out.data(), static_cast<unsigned long>(frames), nullptr, 0, s.get());
            const double period_ns = 10.0 * static_cast<double>(frames) * 1e9 / 48000.0;
            const double busy = static_cast<double>(script_ns) / period_ns;
            EXPECT_NEAR(busy, share, 0.02 * share + 1e-12) << frames << " frames at " << share;
            EXPECT_EQ(script_ns > 0, share > 0.0) << frames << " frames at " << share;
        }
}
