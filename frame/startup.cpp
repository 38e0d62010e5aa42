// Window, usage text and the end of the window.
#include "frame/startup.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "display/display.hpp"
#include "frame/host.hpp"
#include "frame/options.hpp"

void startup_window(std::string_view program_title, int64_t width, int64_t height)
{
    host_environment_prepare();  // before the window's thread starts
    display_catch_signals();
    gfx_set_title(std::string(program_title) + "  " + std::string(maker_notice));
    if (gfx_open(width, height, 8, 1, 0) != 0) {
        std::fprintf(stderr, "%.*s: cannot open the window: %s\n", static_cast<int>(program_title.size()),
                     program_title.data(), gfx_open_error());
        std::exit(1);
    }
}

bool usage_wanted()
{
    const int64_t h = option_value("h");
    const int64_t question = option_value("?");
    return h != -1 || question != -1;
}

void usage_show(std::initializer_list<std::string_view> lines)
{
    bool first = true;
    for (std::string_view line : lines) {
        con_print(first ? std::string(line) + std::string(maker_notice) : std::string(line));
        first = false;
    }
    sleep_ms_or_key(-1);
    window_finish();
}

void window_finish()
{
    thread_wait_all(2000);
    gfx_close();
}
