// karvel: round-trip latency of an audio interface's loop from output 1 to
// input 1, by an adaptive filter.
#include "display/display.hpp"
#include "frame/options.hpp"
#include "frame/startup.hpp"

int main(int argc, char** argv)
{
    option_set_args(argc, argv);
    startup_window("Karvel.exe", 1001, 201);
    if (usage_wanted()) {
        usage_show({"ASIO latency check program, ",
                    "",
                    "option",
                    "  -d : set device index of PortAudio",
                    "  -b : set buffer size (8/16/32/64/128/256)",
                    "  -o : overwrite mode (hit 'e' or 'r' key to erase/refresh)",
                    "",
                    "example",
                    "  >karvel -d3 -b128 -o",
                    "",
                    "hit any key to exit"});
        return 0;
    }
    const int64_t device = option_value("d");
    const int64_t overwrite = option_value("o");
    const buffer_setting buffer = buffer_size_lookup(option_value("b"), 256);
    (void)device;
    (void)overwrite;
    (void)buffer;
    for (;;) {
        sleep_ms(200);
        const std::string key = key_poll();
        const int code = key.empty() ? 0 : static_cast<unsigned char>(key[0]);
        if (code == 27 || code == 3)
            break;
    }
    window_finish();
    return 0;
}
