// Stall detection from the audio thread's frame count.
#include "frame/stall.hpp"

std::atomic<int64_t> stream_frames{0};

bool stall_check(stall_watch& watch, int64_t frames, int64_t now_ms)
{
    if (watch.frames < 0) {
        watch.frames = frames;
        watch.start_ms = now_ms;
        return false;
    }
    const int64_t elapsed = now_ms - watch.start_ms;
    if (elapsed >= watch.window_ms) {
        // The rate compared in whole numbers: frames * 1000 < floor * ms.
        watch.stalled = (frames - watch.frames) * 1000 < stall_rate_floor * elapsed;
        watch.frames = frames;
        watch.start_ms = now_ms;
    }
    return watch.stalled;
}

std::string stall_message(bool on_jack, std::string_view advice)
{
    std::string message = "!!! no audio frames: ";
    message += on_jack ? std::string_view("JACK server stopped? restart it, then this program") : advice;
    return message;
}
