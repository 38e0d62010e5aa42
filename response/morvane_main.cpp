// morvane: the magnitude response of the loop from output 1 to input 1, from a
// 2048-tap adaptive model fitted to white noise, drawn like tessaly's.
#include <string_view>

#include "dsp/fft.hpp"
#include "frame/startup.hpp"
#include "frame/stream.hpp"
#include "response/response.hpp"
#include "rtresponse/program.hpp"
#include "rtresponse/scale.hpp"
#include "rtresponse/shared_response.hpp"

namespace {

constexpr std::string_view usage_heading = "ASIO frequency response measurement program, ";
constexpr std::string_view usage_example = "  >morvane -d3 -b128";

// With the stream already running: the FFT tables, which the first refresh needs.
void build_fft_tables() { fft_2048(spectrum_re, spectrum_im, -1, 1); }

}  // namespace

int main(int argc, char** argv)
{
    response_scale_select(scale_tessaly);  // the 1025 x 301 window, +1 .. -2 dB at 100 pixels per dB
    response_options options;
    if (!response_startup(argc, argv, "Morvane.exe", usage_heading, usage_example, options))
        return 0;
    response_buffer_frames = options.buffer.frames;

    const measurement_frame frame{.client_name = "morvane",
                                  .callback = response_callback,
                                  .suggested_latency = options.buffer.latency,
                                  .after_start = build_fft_tables,
                                  .refresh = response_refresh,
                                  .erase_keys = false,
                                  .stall_advice = "try a larger -b, or a smaller PipeWire quantum"};
    const int status = frame_run(options.device, frame);
    window_finish();
    return status;
}
