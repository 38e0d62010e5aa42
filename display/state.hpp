// Program-wide state of the display services, shared by their source files.
// Every field is guarded by display_lock.
#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
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

// The key of the window's close button and of the console's close event.
inline constexpr std::string_view close_key = "\xFF\x6B";

// Moves keys that arrived outside the lock (signals, console input) into the
// queue. Called with display_lock held.
void keys_collect_locked();

// Set by a signal handler or the console's control handler, which may do
// nothing else safely; keys_collect_locked turns them into keys: Ctrl-C (code
// 3) and the close key.
extern std::atomic<bool> console_interrupt_pending;
extern std::atomic<bool> console_close_pending;
static_assert(std::atomic<bool>::is_always_lock_free);

// The platform's console (console_posix.cpp, console_windows.cpp): without a
// framebuffer, queues the keys typed at the console; called with display_lock
// held.
void console_input_collect_locked();
// Writes code page 437 text to the console as its terminal shows it, with a
// line end when asked; called with display_lock held.
void console_write(std::string_view text, bool line_end);

// Queues what one SDL event means as keys: key-down, text input, and the
// window's close button.
union SDL_Event;
void window_handle_event(const SDL_Event& event);

// Starts and stops the thread that owns the SDL window (window_sdl.cpp).
bool window_start(std::string& error);
void window_stop();
