// The window: a thread of its own owns the SDL window, pumps its events into
// the key queue and shows the framebuffer about 60 times a second.
#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>

#include "display/display.hpp"
#include "display/hooks.hpp"
#include "display/state.hpp"

namespace {

std::thread window_thread;
std::atomic<bool> window_quit{false};
std::mutex start_mutex;
std::condition_variable start_signal;
int start_state = 0;  // 0 starting, 1 open, -1 failed
std::string start_error;
std::string last_error;

void report_start(int state, const std::string& error)
{
    std::lock_guard<std::mutex> hold(start_mutex);
    start_state = state;
    start_error = error;
    start_signal.notify_all();
}

}  // namespace

void window_handle_event(const SDL_Event& event)
{
    if (event.type == SDL_KEYDOWN) {
        std::string key = key_from_sdl(event.key.keysym.sym, event.key.keysym.mod);
        if (!key.empty())
            key_push(key);
    } else if (event.type == SDL_TEXTINPUT) {
        for (char c : utf8_to_cp437(event.text.text))
            key_push(std::string(1, c));
    } else if (event.type == SDL_QUIT) {
        key_push(close_key);  // the close button closes nothing: it is a key
    }
}

namespace {

// Copies the framebuffer (and a new title) out under the lock, then shows it;
// skipped while nothing was drawn, unless the window itself needs repainting.
void present(SDL_Window* window, SDL_Surface* indexed, bool repaint)
{
    std::string title;
    bool retitle = false;
    {
        std::lock_guard<std::mutex> hold(display_lock);
        if (display.width != indexed->w || display.height != indexed->h)
            return;
        if (!display.dirty && !display.title_changed && !repaint)
            return;
        display.dirty = false;
        SDL_LockSurface(indexed);
        for (int64_t y = 0; y < display.height; y++)
            std::copy_n(&display.pixels[y * display.width], display.width,
                        static_cast<uint8_t*>(indexed->pixels) + y * indexed->pitch);
        SDL_UnlockSurface(indexed);
        retitle = display.title_changed;
        display.title_changed = false;
        title = display.title;
    }
    if (retitle)
        SDL_SetWindowTitle(window, title.c_str());
    SDL_Surface* screen = SDL_GetWindowSurface(window);
    if (screen) {
        SDL_BlitSurface(indexed, nullptr, screen, nullptr);
        SDL_UpdateWindowSurface(window);
    }
}

// An invisible window would leave the program running with nobody to see it
// or press its keys: only a video driver that shows windows will do.
bool video_driver_shows_windows(std::string& error)
{
    const char* driver = SDL_GetCurrentVideoDriver();
    const std::string name = driver ? driver : "";
    if (name == "offscreen" || name == "dummy" || name == "evdev") {
        error = "no display: SDL found only its " + name + " video driver";
        return false;
    }
    return true;
}

void window_loop(int width, int height, std::string title)
{
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // A plain software framebuffer: without this hint SDL shows the window
    // surface through a GL texture, which on a machine without a GPU loads
    // Mesa's software rasteriser (LLVM: about 86 MiB resident, five threads
    // and a shader cache on disk) to copy one small 8-bit picture.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        report_start(-1, SDL_GetError());
        return;
    }
    std::string error;
    if (!video_driver_shows_windows(error)) {
        SDL_Quit();
        report_start(-1, error);
        return;
    }
    SDL_Window* window =
        SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width, height, 0);
    SDL_Surface* indexed =
        window ? SDL_CreateRGBSurfaceWithFormat(0, width, height, 8, SDL_PIXELFORMAT_INDEX8) : nullptr;
    if (!window || !indexed) {
        report_start(-1, SDL_GetError());
        if (window)
            SDL_DestroyWindow(window);
        SDL_Quit();
        return;
    }
    SDL_Color colours[256];
    for (int i = 0; i < 256; i++) {
        std::array<uint8_t, 3> rgb = palette_rgb(i);
        colours[i] = SDL_Color{rgb[0], rgb[1], rgb[2], 255};
    }
    SDL_SetPaletteColors(indexed->format->palette, colours, 0, 256);
    SDL_StartTextInput();
    report_start(1, "");
    bool repaint = true;
    while (!window_quit.load()) {
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            window_handle_event(event);
            repaint = repaint || event.type == SDL_WINDOWEVENT;
        }
        present(window, indexed, repaint);
        repaint = false;
        SDL_Delay(16);
    }
    SDL_FreeSurface(indexed);
    SDL_DestroyWindow(window);
    SDL_Quit();
}

}  // namespace

bool window_start(std::string& error)
{
#if defined(__unix__) && !defined(__APPLE__)
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!x11 || !*x11) && (!wayland || !*wayland) && !std::getenv("SDL_VIDEODRIVER")) {
        error = "no display: neither DISPLAY nor WAYLAND_DISPLAY is set";
        return false;
    }
#endif
    int64_t width, height;
    gfx_size(width, height);
    std::string title;
    {
        std::lock_guard<std::mutex> hold(display_lock);
        title = display.title;
    }
    {
        std::lock_guard<std::mutex> hold(start_mutex);
        start_state = 0;
    }
    window_quit.store(false);
    window_thread = std::thread(window_loop, static_cast<int>(width), static_cast<int>(height), title);
    std::unique_lock<std::mutex> hold(start_mutex);
    bool answered = start_signal.wait_for(hold, std::chrono::seconds(20), [] { return start_state != 0; });
    if (answered && start_state == 1)
        return true;
    error = answered ? start_error : "the window did not open within 20 seconds";
    hold.unlock();
    window_quit.store(true);
    if (answered)
        window_thread.join();
    else
        window_thread.detach();
    return false;
}

void window_stop()
{
    if (!window_thread.joinable())
        return;
    window_quit.store(true);
    window_thread.join();
}

int gfx_open(int64_t width, int64_t height, int64_t depth, int64_t pages, int64_t flags)
{
    if (depth != 8 || pages != 1 || flags != 0 || width <= 0 || height <= 0 || width > 16384 || height > 16384) {
        last_error = "only an 8-bit window of one page is supported";
        return 1;
    }
    gfx_open_memory(width, height);
    if (!window_start(last_error))
        return 1;
    std::lock_guard<std::mutex> hold(display_lock);
    display.windowed = true;
    return 0;
}

void gfx_set_title(std::string_view text)
{
    std::lock_guard<std::mutex> hold(display_lock);
    display.title = std::string(text.substr(0, 127));
    display.title_changed = true;
}

const char* gfx_open_error() { return last_error.c_str(); }

void gfx_close()
{
    window_stop();
    std::lock_guard<std::mutex> hold(display_lock);
    display.windowed = false;
    display.width = display.height = 0;
    display.pixels.clear();
    display.cursor_col = display.cursor_row = 0;
    display.keys.clear();
}

std::string key_from_sdl(int32_t sym, uint16_t mod)
{
    if ((mod & KMOD_CTRL) && sym >= SDLK_a && sym <= SDLK_z)
        return std::string(1, static_cast<char>(sym - SDLK_a + 1));
    switch (sym) {
    case SDLK_ESCAPE: return std::string(1, static_cast<char>(key_escape));
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return "\x0D";
    case SDLK_BACKSPACE: return "\x08";
    case SDLK_TAB: return "\x09";
    default: break;
    }
    struct extended {
        int32_t sym;
        uint8_t scan;
    };
    static constexpr extended table[] = {
        {SDLK_UP, 72},     {SDLK_DOWN, 80},     {SDLK_LEFT, 75},   {SDLK_RIGHT, 77},  {SDLK_HOME, 71}, {SDLK_END, 79},
        {SDLK_PAGEUP, 73}, {SDLK_PAGEDOWN, 81}, {SDLK_INSERT, 82}, {SDLK_DELETE, 83}, {SDLK_F1, 59},   {SDLK_F2, 60},
        {SDLK_F3, 61},     {SDLK_F4, 62},       {SDLK_F5, 63},     {SDLK_F6, 64},     {SDLK_F7, 65},   {SDLK_F8, 66},
        {SDLK_F9, 67},     {SDLK_F10, 68},      {SDLK_F11, 133},   {SDLK_F12, 134}};
    for (const extended& e : table)
        if (e.sym == sym)
            return std::string{'\xFF', static_cast<char>(e.scan)};
    return "";
}
