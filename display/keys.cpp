// The key queue and the two sleeps; the keys of signals and of the console come
// from the platform's console file (console_posix.cpp, console_windows.cpp).
#include <chrono>

#include "display/display.hpp"
#include "display/hooks.hpp"
#include "display/state.hpp"

namespace {

bool key_waiting()
{
    std::lock_guard<std::mutex> hold(display_lock);
    keys_collect_locked();
    return !display.keys.empty();
}

std::atomic<int64_t> threads_running{0};

}  // namespace

std::atomic<bool> console_interrupt_pending{false};
std::atomic<bool> console_close_pending{false};

void keys_collect_locked()
{
    if (console_interrupt_pending.exchange(false))
        display.keys.emplace_back(1, static_cast<char>(key_ctrl_c));
    if (console_close_pending.exchange(false))
        display.keys.emplace_back(close_key);
    console_input_collect_locked();
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
