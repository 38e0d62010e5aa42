// The console on POSIX systems: signals as keys, and key input from a terminal
// or pipe for the console program.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "display/display.hpp"
#include "display/state.hpp"

namespace {

bool console_eof = false;
bool console_raw = false;
termios console_saved{};

void console_restore()
{
    if (console_raw)
        tcsetattr(STDIN_FILENO, TCSANOW, &console_saved);
    console_raw = false;
}

// Puts the terminal into single-key mode without echo, once; signals stay on
// so that Ctrl-C arrives as SIGINT like everywhere else.
void console_make_raw()
{
    if (console_raw || !isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &console_saved) != 0)
        return;
    termios raw = console_saved;
    raw.c_lflag &= ~(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) {
        console_raw = true;
        std::atexit(console_restore);
    }
}

// SIGINT, SIGTERM and SIGHUP (the terminal closed) are Ctrl-C, which ends every
// program through its clean path; the close key would leave a windowed
// program running with no terminal.
void on_signal(int) { console_interrupt_pending.store(true); }

}  // namespace

// Without a framebuffer (the console program), keys come from standard input:
// each byte is a key and the end of input is the console's close event.
void console_input_collect_locked()
{
    if (!display.pixels.empty() || console_eof)
        return;
    console_make_raw();
    for (;;) {
        pollfd fd{STDIN_FILENO, POLLIN, 0};
        if (poll(&fd, 1, 0) <= 0 || !(fd.revents & (POLLIN | POLLHUP)))
            return;
        char byte;
        ssize_t got = read(STDIN_FILENO, &byte, 1);
        if (got == 1) {
            display.keys.emplace_back(1, byte);
            continue;
        }
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
            console_eof = true;
            display.keys.emplace_back(close_key);
        }
        return;
    }
}

void display_catch_signals()
{
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

// The terminal speaks UTF-8: the font's characters are written back as such.
void console_write(std::string_view text, bool line_end)
{
    const std::string utf8 = cp437_to_utf8(text);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    if (line_end)
        std::fputc('\n', stdout);
    std::fflush(stdout);
}
