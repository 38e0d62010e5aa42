// Display and input services: an 8-bit palette framebuffer shown in a window,
// 8x8 text, a text cursor, a keyboard queue, sleeps and detached threads.
//
// Every call takes one internal lock, so drawing, printing and key access from
// the main thread and the display threads interleave freely and each call
// completes as a whole. Framebuffer coordinates: (0, 0) is the top-left pixel,
// x grows to the right and y downwards. All drawing clips to the window.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include "charset/charset.hpp"

// ---- palette indices and key codes the programs use --------------------------

inline constexpr int64_t colour_black = 0;     // background, outlines, erasing bars
inline constexpr int64_t colour_label = 7;     // light grey: axis and level labels
inline constexpr int64_t colour_grid = 8;      // dark grey: grid lines
inline constexpr int64_t colour_trace = 10;    // light green: measured curves
inline constexpr int64_t colour_readout = 14;  // yellow: status lines
inline constexpr int64_t colour_text = 15;     // white: printed text (con_print)

inline constexpr int key_escape = 27;  // first character code of the Escape key
inline constexpr int key_ctrl_c = 3;   // Ctrl-C, also queued for SIGINT and SIGTERM

// ---- window and drawing ----------------------------------------------------

// Opens the framebuffer and its window; returns 0 on success. Only depth 8 with
// one page is supported. Without a display, returns non-zero and leaves the
// reason in gfx_open_error().
int gfx_open(int64_t width, int64_t height, int64_t depth, int64_t pages, int64_t flags);
void gfx_set_title(std::string_view text);  // cut to its first 127 characters
void gfx_size(int64_t& width, int64_t& height);
// Line through both end pixels; bit 15 of the low 16 bits of style governs the
// first pixel (at x1, y1), bit 14 the next, repeating every 16 pixels.
void gfx_line(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t colour, uint32_t style);
void gfx_box(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t colour);       // outline
void gfx_fill_box(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t colour);  // filled
// 8x8 code page 437 text, first cell's top-left pixel at (x, y); only the
// glyphs' set pixels are drawn.
void gfx_text(int64_t x, int64_t y, std::string_view text, int64_t colour);

// Opaque 8x8 cells (colour 15 on 0) at the text cursor; without a window the
// text goes to standard output, in UTF-8. The cursor moves to the next row unless
// keep_on_line is set; past the last row the text grid scrolls up one row.
void con_print(std::string_view text, bool keep_on_line = false);

// ---- keys and sleeps ---------------------------------------------------------

// Removes and returns the oldest queued key, or "" at once when none is queued.
// An extended key is two characters: 255 and the key's PC scan code. The
// window's close button and the console's end of input queue 255, 107.
std::string key_poll();
void sleep_ms(int64_t ms);
// -1: waits for a key; >= 100: sleeps, returning early on a key; 1..99: plain
// sleep; other values: returns at once. The key stays queued.
void sleep_ms_or_key(int64_t ms);

// ---- threads -------------------------------------------------------------------

void thread_begun();
void thread_ended();
// Starts routine(args...) on a new detached thread and returns at once.
template <class Routine, class... Args>
std::thread::id thread_start(Routine routine, Args... args)
{
    thread_begun();
    std::thread worker([=] {
        routine(args...);
        thread_ended();
    });
    std::thread::id id = worker.get_id();
    worker.detach();
    return id;
}
// Waits up to ms milliseconds for every thread_start routine to return.
bool thread_wait_all(int64_t ms);

// ---- set-up and character sets ----------------------------------------------

// Catches SIGINT, SIGTERM and SIGHUP (the terminal closed), each of which
// queues the key with code 3; on Windows the console's Ctrl-C and Ctrl-Break
// queue that key, and the console's close the close key 255, 107.
void display_catch_signals();
// Closes the window, if any, and forgets framebuffer, cursor and keys.
void gfx_close();
// Why gfx_open failed.
const char* gfx_open_error();
