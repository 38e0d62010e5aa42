// The start of every windowed program: titled window, usage text.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string_view>

// The maker's notice, 29 characters, in every title, usage text and listing.
inline constexpr std::string_view maker_notice = "(C) 2026 Loopcable Test Suite";

// Sets the audio libraries' environment (before the window's thread starts),
// the title (program name, two blanks, the notice), opens the window and
// catches Ctrl-C, SIGTERM and SIGHUP as keys. Without a display the program cannot be
// used at all: it says so on standard error and exits with status 1.
void startup_window(std::string_view program_title, int64_t width, int64_t height);

// True when -h or -? (or /h, /?) was given; both are always asked for.
bool usage_wanted();

// Prints the usage lines (the first followed directly by the maker's notice),
// waits for any key, and closes the window.
void usage_show(std::initializer_list<std::string_view> lines);

// Ends the program's use of the window: waits briefly for display threads
// still drawing, then closes the window.
void window_finish();
