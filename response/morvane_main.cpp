// morvane: the magnitude response of the loop from output 1 to input 1, from a
// 2048-tap adaptive model fitted to white noise, drawn like tessaly's.
#include "display/display.hpp"
#include "dsp/fft.hpp"
#include "frame/startup.hpp"
#include "frame/stream.hpp"
#include "response/callback.hpp"
#include "rtresponse/program.hpp"
#include "rtresponse/scale.hpp"
#include "rtresponse/state.hpp"

namespace {

// With the stream already running: the FFT tables, which the first refresh needs.
void build_fft_tables() { fft_2048(rtresponse::spectrum_re, rtresponse::spectrum_im, -1, 1); }

}  // namespace

int main(int argc, char** argv)
{
    option_set_args(argc, argv);
    response_scale_select(scale_tessaly);  // +1 .. -2 dB at 100 pixels per dB
    startup_window("Morvane.exe", 1025, 301);
    if (usage_wanted()) {
        response_usage_show("ASIO frequency response measurement program, ", "  >morvane -d3 -b128");
        return 0;
    }
    const response_options options = response_options_read();
    rtresponse::response_buffer_frames = options.buffer.frames;

    const measurement_frame frame{.client_name = "morvane",
                                  .callback = response_callback,
                                  .suggested_latency = options.buffer.latency,
                                  .refresh = response_refresh,
                                  .stall_advice = "try a larger -b, or a smaller PipeWire quantum",
                                  .after_start = build_fft_tables};
    return frame_run(options.device, frame);
}
