// karvel: round-trip latency of an audio interface's loop from output 1 to
// input 1, by an adaptive filter.
#include "display/display.hpp"
#include "frame/options.hpp"
#include "frame/startup.hpp"
#include "frame/stream.hpp"
#include "latency/callback.hpp"
#include "latency/display.hpp"

namespace {

// Handed by value to every refresh; set once before the stream starts.
int64_t overwrite_option = -1;
buffer_setting buffer{64, 0.001333};

// Inside the freeze: one refresh of the window on a thread of its own.
void start_refresh()
{
    thread_start(latency_display, buffer.frames, overwrite_option, static_cast<const char*>(device_name_buffer));
}

}  // namespace

int main(int argc, char** argv)
{
    option_set_args(argc, argv);
    startup_window("Karvel.exe", 1001, 201);
    if (usage_wanted()) {
        usage_show({"ASIO latency check program, ", "", "option", "  -d : set device index of PortAudio",
                    "  -b : set buffer size (8/16/32/64/128/256)",
                    "  -o : overwrite mode (hit 'e' or 'r' key to erase/refresh)", "", "example",
                    "  >karvel -d3 -b128 -o", "", "hit any key to exit"});
        return 0;
    }
    const int64_t device = option_value("d");
    overwrite_option = option_value("o");
    buffer = buffer_size_lookup(option_value("b"), 256);
    const measurement_frame frame{.client_name = "karvel",
                                  .callback = latency_callback,
                                  .suggested_latency = buffer.latency,
                                  .refresh = start_refresh,
                                  .stall_advice = "try a larger -b, or a smaller PipeWire quantum",
                                  .erase_keys = true};
    return frame_run(device, frame);
}
