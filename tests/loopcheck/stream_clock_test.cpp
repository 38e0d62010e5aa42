// The callbacks' times as io/ records them for the rate against the system's
// clock: one pair a stride of frames, the xruns and missed cycles of the
// stream's log as the line's breaks, the ring's oldest pairs given up when
// it wraps; and the rate read through them from a scripted clock.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "loopcheck/io/stream_state.hpp"

namespace {

int64_t scripted_ns = 0;
int64_t scripted_clock() { return scripted_ns; }
uint32_t scripted_server = 0;
uint32_t scripted_server_clock(void*) { return scripted_server; }

struct call {
    int64_t frames;
    double seconds_after;         // the system's time this call begins after the one before
    PaStreamCallbackFlags flags;  // as the host flagged it
    uint32_t server_skip = 0;     // cycles the server ran without this client before this call
};

}  // namespace

TEST(StreamClock, RecordsOnePairAStrideAndBreaksAtTheLogsEntries)
{
    struct row {
        const char* what;
        int64_t stride;
        std::vector<call> calls;
        std::vector<int64_t> frames;  // the pairs' frames
        std::vector<int64_t> breaks;  // the frames of the pairs that start a new line
    };
    const std::vector<call> plain(6, call{256, 256 / 48000.0, 0});
    std::vector<call> flagged = plain;
    flagged[3].flags = paInputOverflow;
    std::vector<call> missed(16, call{256, 256 / 48000.0, 0});
    missed[5].server_skip = 1;  // marked once the lead stood for four calls, at the gap's frame
    const row rows[] = {
        {"every call", 1, plain, {0, 256, 512, 768, 1024, 1280}, {}},
        {"every 480 frames (10 ms)", 480, plain, {0, 512, 1024}, {}},
        {"an xrun flagged at frame 768", 1, flagged, {0, 256, 512, 768, 1024, 1280}, {768}},
        {"an xrun between two records: the next breaks", 480, flagged, {0, 512, 1024}, {1024}},
        {"a missed cycle before frame 1280", 1, missed, {}, {1280}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        auto s = std::make_unique<stream_state>();
        s->timed_clock = scripted_clock;
        s->clock_read = scripted_server_clock;
        stream_prepare(*s, 4096, r.stride);
        scripted_ns = 1'000'000'000, scripted_server = 1000;
        std::vector<float> in(2 * 256), out(2 * 256);
        for (const call& c : r.calls) {
            scripted_server += static_cast<uint32_t>(c.server_skip * 256);
            stream_callback(in.data(), out.data(), static_cast<unsigned long>(c.frames), nullptr, c.flags, s.get());
            scripted_ns += std::llround(c.seconds_after * 1e9);
            scripted_server += static_cast<uint32_t>(c.frames);
        }
        const std::vector<clock_point> points = stream_clock_points(*s);
        std::vector<int64_t> frames, breaks;
        for (const clock_point& p : points) {
            frames.push_back(p.frame);
            if (p.breaks)
                breaks.push_back(p.frame);
        }
        if (!r.frames.empty()) {
            EXPECT_EQ(frames, r.frames);
        }
        EXPECT_EQ(breaks, r.breaks);
        for (size_t i = 1; i < points.size(); i++)
            EXPECT_GT(points[i].ns, points[i - 1].ns);
    }
}

// Past the ring's capacity the oldest pairs are given up, the newest kept in
// order; the rate through them is the scripted one (+50 ppm, no jitter).
TEST(StreamClock, KeepsTheNewestPairsAndReadsTheScriptedRate)
{
    auto s = std::make_unique<stream_state>();
    s->timed_clock = scripted_clock;
    stream_prepare(*s, 4096, 1);
    const double rate = 48000.0 * (1.0 + 50e-6);
    const int64_t calls = stream_timed_capacity + 1000;
    std::vector<float> in(2 * 64), out(2 * 64);
    for (int64_t k = 0; k < calls; k++) {
        scripted_ns = std::llround(static_cast<double>(k * 64) / rate * 1e9);
        stream_callback(in.data(), out.data(), 64, nullptr, 0, s.get());
    }
    const std::vector<clock_point> points = stream_clock_points(*s);
    ASSERT_EQ(static_cast<int64_t>(points.size()), stream_timed_capacity);
    EXPECT_EQ(points.front().frame, 1000 * 64);
    EXPECT_EQ(points.back().frame, (calls - 1) * 64);
    const clock_rate got = clock_rate_fit(points, 48000.0, 1.0);
    ASSERT_EQ(got.error, "");
    EXPECT_NEAR(got.ppm, 50.0, 0.01);
    EXPECT_LT(got.ppm_uncertainty, 0.01);
}
