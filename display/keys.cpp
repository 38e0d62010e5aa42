// The key queue, the two sleeps, console key input and signal keys.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>

#include "display/display.hpp"
#include "display/state.hpp"

namespace {

// Set by the signal handler, which may do nothing else safely; turned into
// the key with code 3 by the next look at the queue.
std::atomic<bool> interrupt_pending{false};
// Set when the terminal hangs up: the console's close event.
std::atomic<bool> hangup_pending{false};
static_assert(std::atomic<bool>::is_always_lock_free);

const std::string close_key = "\xFF\x6B";

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

// Without a framebuffer (the console program), keys come from standard input: each byte is a key and the
// end of input is the console's close event.
void console_collect_locked()
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
            display.keys.push_back(close_key);
        }
        return;
    }
}

void on_signal(int signal_number)
{
    if (signal_number == SIGHUP)
        hangup_pending.store(true);
    else
        interrupt_pending.store(true);
}

bool key_waiting()
{
    std::lock_guard<std::mutex> hold(display_lock);
    keys_collect_locked();
    return !display.keys.empty();
}

std::atomic<int64_t> threads_running{0};

}  // namespace

void keys_collect_locked()
{
    if (interrupt_pending.exchange(false))
        display.keys.emplace_back(1, '\x03');
    if (hangup_pending.exchange(false))
        display.keys.push_back(close_key);
    console_collect_locked();
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

void key_push(std::string_view key)
{
    std::lock_guard<std::mutex> hold(display_lock);
    display.keys.emplace_back(key);
}

std::string key_poll()
{
    std::lock_guard<std::mutex> hold(display_lock);
    keys_collect_locked();
    if (display.keys.empty())
        return "";
    std::string key = std::move(display.keys.front());
    display.keys.pop_front();
    return key;
}

void sleep_ms(int64_t ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void sleep_ms_or_key(int64_t ms)
{
    if (ms == -1) {
        while (!key_waiting())
            sleep_ms(50);
        return;
    }
    if (ms <= 0)
        return;
    if (ms < 100) {
        sleep_ms(ms);
        return;
    }
    while (ms > 50) {
        if (key_waiting())
            return;
        sleep_ms(50);
        ms -= 50;
    }
    sleep_ms(ms);
}

void thread_begun() { threads_running.fetch_add(1); }
void thread_ended() { threads_running.fetch_sub(1); }

bool thread_wait_all(int64_t ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (threads_running.load() > 0) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        sleep_ms(5);
    }
    return true;
}
