// Stall detection from the audio thread's frame count.
#include "frame/stall.hpp"

std::atomic<int64_t> stream_frames{0};

bool stall_check(stall_watch& watch, int64_t frames, int64_t now_ms)
{
    if (frames != watch.frames) {
        watch.frames = frames;
        watch.changed_ms = now_ms;
        return false;
    }
    return now_ms - watch.changed_ms >= stall_after_ms;
}

std::string stall_message(bool on_jack, std::string_view advice)
{
    std::string message = "!!! no audio frames: ";
    message += on_jack ? std::string_view("JACK server stopped? restart it, then this program") : advice;
    return message;
}
