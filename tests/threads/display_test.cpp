// Drawing, printing and key access from several threads at once: every call
// completes as a whole (run under ThreadSanitizer too).
#include <gtest/gtest.h>

#include "display/display.hpp"
#include "display/hooks.hpp"
#include "display/plot.hpp"

TEST(DisplayConcurrency, ThreadsInterleaveWholeCalls)
{
    gfx_open_memory(200, 100);
    std::atomic<bool> stop{false};
    std::thread drawer([&] {
        for (int i = 0; i < 300; i++) {
            plot_fill_box(0, 0, 200, 100, 0);
            plot_line(0, 50, 199, 50, 10);
            plot_text_bold(2, 2, "peak", 0);
            plot_text(2, 2, "peak", 7);
        }
    });
    std::thread printer([&] {
        for (int i = 0; !stop.load(); i++) {
            con_print("line", i % 2 == 0);
            key_push("x");
            (void)key_poll();
        }
    });
    drawer.join();
    stop.store(true);
    printer.join();
    // The last whole fill-line-text sequence is intact on the row of the line.
    plot_line(0, 50, 199, 50, 10);
    for (int x = 0; x < 200; x++)
        EXPECT_EQ(gfx_pixel(x, 49), 10);
    gfx_close();
}
