// loopcheck's callback: where the sweep is played, what the ring keeps, and
// which calls spoil a run (status flags, a clock that jumped past missed cycles).
#include <gtest/gtest.h>

#include <vector>

#include "loopcheck/stream.hpp"

namespace {

// Three output and two input channels, the loop on output 2 and input 2.
void prepare()
{
    stream_prepare(std::vector<float>{0.5f, -0.25f, 0.125f}, {}, 64);
    stream_out_channels = 3, stream_out_channel = 1, stream_in_channels = 2, stream_in_channel = 1;
    stream_clock_rate = 48000.0;
}

// One call of frames frames at input clock time seconds, flags as given; input
// channel 2 carries 100 + the frame number.
std::vector<float> call(int64_t frames, double time, PaStreamCallbackFlags flags = 0)
{
    const int64_t first = stream_frames_done.load();
    std::vector<float> in(2 * frames), out(3 * frames, 9.0f);
    for (int64_t i = 0; i < frames; i++)
        in[2 * i] = -1.0f, in[2 * i + 1] = static_cast<float>(100 + first + i);
    PaStreamCallbackTimeInfo info{time, time, time};
    stream_callback(in.data(), out.data(), static_cast<unsigned long>(frames), &info, flags, nullptr);
    return out;
}

}  // namespace

TEST(LoopcheckStream, TheSweepPlaysFromItsStartOnItsChannelAlone)
{
    prepare();
    stream_sweep_schedule(6, false);
    const std::vector<float> first = call(4, 0.0), second = call(4, 4.0 / 48000.0);
    const std::vector<float> want_first(12, 0.0f);
    const std::vector<float> want_second{0, 0, 0, 0, 0, 0, 0, 0.5f, 0, 0, -0.25f, 0};
    EXPECT_EQ(first, want_first);
    EXPECT_EQ(second, want_second);
    std::vector<float> kept;
    stream_capture_copy(2, 8, kept);
    EXPECT_EQ(kept, (std::vector<float>{102, 103, 104, 105, 106, 107}));
}

TEST(LoopcheckStream, FlagsAndMissedCyclesMarkTheirCall)
{
    struct step {
        int64_t frames;
        double time;  // frames of the input clock
        PaStreamCallbackFlags flags;
        int64_t flagged, skipped;  // the marks after the call
    };
    prepare();
    for (const step s : {step{256, 0, paPrimingOutput, -1, -1}, step{256, 256, 0, -1, -1},
                         step{256, 512 + 100, 0, -1, -1},          // late by less than half a buffer
                         step{256, 768 + 100 + 256, 0, -1, 768},   // a whole cycle missing
                         step{256, 1024 + 100 + 256, paInputOverflow, 1024, 768}}) {
        call(s.frames, s.time / 48000.0, s.flags);
        EXPECT_EQ(stream_flagged_frame.load(), s.flagged);
        EXPECT_EQ(stream_skipped_frame.load(), s.skipped);
    }
    EXPECT_EQ(stream_flags_seen.load(), static_cast<unsigned long>(paInputOverflow));
}
