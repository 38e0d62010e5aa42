// Program-wide state of the display services, shared by their source files.
// Every field is guarded by display_lock.
#pragma once
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

struct display_state {
    int64_t width = 0;
    int64_t height = 0;
    std::vector<uint8_t> pixels;  // width * height palette indices, row by row
    int64_t cursor_col = 0;
    int64_t cursor_row = 0;
    std::string title;
    bool title_changed = false;
    bool windowed = false;  // a window shows the framebuffer
    bool dirty = true;      // drawn on since the window last showed the framebuffer
    std::deque<std::string> keys;
};

extern std::mutex display_lock;
extern display_state display;

// Moves keys that arrived outside the lock (signals, console input) into the
// queue. Called with display_lock held.
void keys_collect_locked();

// Queues what one SDL event means as keys: key-down, text input, and the
// window's close button.
union SDL_Event;
void window_handle_event(const SDL_Event& event);

// Starts and stops the thread that owns the SDL window (window_sdl.cpp).
bool window_start(std::string& error);
void window_stop();
