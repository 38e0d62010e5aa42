// Waiting on the stream: the clock, the stall rule, the safe start.
#include "loopcheck/io/stream_wait.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

stream_pace stream_pace_system()
{
    return {
        [] {
            using namespace std::chrono;
            return static_cast<int64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
        },
        [](int64_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }};
}

bool stream_stall_look(stream_stall_watch& w, int64_t frames, int64_t now_ms)
{
    if (frames != w.frames) {
        w.frames = frames, w.since_ms = now_ms;
        return false;
    }
    return now_ms - w.since_ms > stream_stall_ms;
}

stream_retry stream_retry_after(int attempt, std::string_view spoiled)
{
    if (spoiled.empty())
        return stream_retry::keep;
    return attempt < stream_attempts ? stream_retry::again : stream_retry::give_up;
}

std::string stream_retry_given_up(const std::string& what, const std::string& why)
{
    return "unstable: " + what + " was spoiled " + std::to_string(stream_attempts) + " times: " + why;
}

bool stream_wait_frames(const stream& s, int64_t until, const std::atomic<bool>& interrupted, const stream_pace& pace)
{
    const double rate = stream_facts_of(s).rate;
    stream_stall_watch watch;
    int64_t seen = stream_frames_done(s);
    const int64_t start = pace.now_ms();
    stream_stall_look(watch, seen, start);
    // A trickle never stands still, but never arrives either.
    const int64_t deadline =
        start + stream_stall_ms + std::lrint(2000.0 * static_cast<double>(std::max<int64_t>(0, until - seen)) / rate);
    while (seen < until && !interrupted.load()) {
        pace.pause(1);
        seen = stream_frames_done(s);
        const int64_t now = pace.now_ms();
        if (stream_stall_look(watch, seen, now) || now > deadline)
            return false;
    }
    return !interrupted.load();
}
