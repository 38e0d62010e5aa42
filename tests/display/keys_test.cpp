// The key queue, the two sleeps, signal keys, SDL key mapping and the
// character-set conversion.
#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>

#include "display/display.hpp"
#include "display/hooks.hpp"

namespace {

using clock_type = std::chrono::steady_clock;

int64_t elapsed_ms(clock_type::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - start).count();
}

class Keys : public ::testing::Test {
protected:
    void SetUp() override { gfx_open_memory(8, 8); }
    void TearDown() override { gfx_close(); }
};

TEST_F(Keys, PollReturnsKeysInOrderAndEmptyWhenNoneIsQueued)
{
    EXPECT_EQ(key_poll(), "");
    key_push("a");
    key_push("\xFF\x48");
    EXPECT_EQ(key_poll(), "a");
    EXPECT_EQ(key_poll(), "\xFF\x48");
    EXPECT_EQ(key_poll(), "");
}

TEST_F(Keys, SleepOrKeyReturnsAtOnceOnAQueuedKeyAndLeavesItQueued)
{
    key_push("q");
    const auto start = clock_type::now();
    sleep_ms_or_key(3000);
    EXPECT_LT(elapsed_ms(start), 1500);  // generous: the point is "not 3 s"
    EXPECT_EQ(key_poll(), "q");
}

TEST_F(Keys, ShortSleepsAreNeverCutShort)
{
    key_push("q");
    const auto start = clock_type::now();
    sleep_ms_or_key(80);
    EXPECT_GE(elapsed_ms(start), 80);
    EXPECT_EQ(key_poll(), "q");
}

TEST_F(Keys, ZeroAndNegativeTimesReturnAtOnce)
{
    const auto start = clock_type::now();
    sleep_ms_or_key(0);
    sleep_ms_or_key(-5);
    EXPECT_LT(elapsed_ms(start), 1000);
}

TEST_F(Keys, WaitingForAKeyEndsWhenOneArrives)
{
    std::thread typist([] {
        sleep_ms(120);
        key_push("k");
    });
    sleep_ms_or_key(-1);
    typist.join();
    EXPECT_EQ(key_poll(), "k");
}

TEST_F(Keys, LongSleepEndsEarlyWhenAKeyArrives)
{
    std::thread typist([] {
        sleep_ms(150);
        key_push("k");
    });
    const auto start = clock_type::now();
    sleep_ms_or_key(20000);
    typist.join();
    EXPECT_LT(elapsed_ms(start), 10000);
    EXPECT_EQ(key_poll(), "k");
}

TEST_F(Keys, InterruptTerminateAndHangUpSignalsQueueCtrlC)
{
    display_catch_signals();
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        std::raise(signal_number);
        sleep_ms_or_key(3000);  // the signal counts as a key for the sleep too
        EXPECT_EQ(key_poll(), "\x03") << signal_number;
        EXPECT_EQ(key_poll(), "") << signal_number;
    }
}

// Special keys become their codes, extended keys 255 and the scan code;
// printable keys give nothing here, since they arrive as text events instead.
TEST(KeyMapping, SdlKeysBecomeConsoleCodes)
{
    const struct {
        SDL_Keycode key;
        uint16_t mod;
        const char* code;
    } cases[] = {{SDLK_ESCAPE, KMOD_NONE, "\x1B"},
                 {SDLK_RETURN, KMOD_NONE, "\x0D"},
                 {SDLK_BACKSPACE, KMOD_NONE, "\x08"},
                 {SDLK_TAB, KMOD_NONE, "\x09"},
                 {SDLK_c, KMOD_LCTRL, "\x03"},
                 {SDLK_a, KMOD_RCTRL, "\x01"},
                 {SDLK_UP, KMOD_NONE, "\xFF\x48"},
                 {SDLK_DOWN, KMOD_NONE, "\xFF\x50"},
                 {SDLK_LEFT, KMOD_NONE, "\xFF\x4B"},
                 {SDLK_RIGHT, KMOD_NONE, "\xFF\x4D"},
                 {SDLK_DELETE, KMOD_NONE, "\xFF\x53"},
                 {SDLK_F1, KMOD_NONE, "\xFF\x3B"},
                 {SDLK_F12, KMOD_NONE, "\xFF\x86"},
                 {SDLK_e, KMOD_NONE, ""},
                 {SDLK_e, KMOD_SHIFT, ""},
                 {SDLK_1, KMOD_NONE, ""},
                 {SDLK_LSHIFT, KMOD_NONE, ""}};
    for (const auto& c : cases)
        EXPECT_EQ(key_from_sdl(c.key, c.mod), c.code) << "key " << c.key << ", mod " << c.mod;
}

TEST(Charset, Utf8BecomesCodePage437)
{
    EXPECT_EQ(utf8_to_cp437("Scarlett 2i2 USB"), "Scarlett 2i2 USB");
    EXPECT_EQ(utf8_to_cp437("Caf\xC3\xA9 \xC3\x84"), "Caf\x82 \x8E");  // é 130, Ä 142
    EXPECT_EQ(utf8_to_cp437("\xE2\x94\x80\xCE\xB1"), "\xC4\xE0");      // ─ 196, α 224
    EXPECT_EQ(utf8_to_cp437("\xE6\x97\xA5\xE6\x9C\xAC"), "??");        // no CJK in CP437
    EXPECT_EQ(utf8_to_cp437("\xF0\x9F\x8E\xB5!"), "?!");               // one ? per character
    EXPECT_EQ(utf8_to_cp437("a\xC3"), "a?");                           // cut sequence
    EXPECT_EQ(utf8_to_cp437("\xC0\xAF"), "??");                        // overlong form
}

TEST(Threads, StartedRoutinesRunWithTheirArgumentsAndCanBeAwaited)
{
    std::atomic<int64_t> sum{0};
    for (int64_t i = 1; i <= 4; i++)
        thread_start([&sum](int64_t a, int64_t b) { sum += a * b; }, i, int64_t{10});
    EXPECT_TRUE(thread_wait_all(5000));
    EXPECT_EQ(sum.load(), 100);
}

}  // namespace

#include "display/state.hpp"

namespace {

TEST_F(Keys, WindowEventsBecomeKeys)
{
    SDL_Event event{};
    event.type = SDL_QUIT;  // what the window's close button sends
    window_handle_event(event);
    EXPECT_EQ(key_poll(), "\xFF\x6B");
    event = SDL_Event{};
    event.type = SDL_KEYDOWN;
    event.key.keysym.sym = SDLK_ESCAPE;
    window_handle_event(event);
    EXPECT_EQ(key_poll(), "\x1B");
    event = SDL_Event{};
    event.type = SDL_TEXTINPUT;
    std::strcpy(event.text.text, "e\xC3\xA9");
    window_handle_event(event);
    EXPECT_EQ(key_poll(), "e");
    EXPECT_EQ(key_poll(), "\x82");
    EXPECT_EQ(key_poll(), "");
}

}  // namespace

namespace {

TEST(Charset, CodePage437RoundTripsThroughUtf8)
{
    std::string all;
    for (int c = 32; c < 256; c++)
        all += static_cast<char>(c);
    EXPECT_EQ(utf8_to_cp437(cp437_to_utf8(all)), all);
}

}  // namespace
