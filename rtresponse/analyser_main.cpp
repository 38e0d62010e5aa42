// tessaly and orbisca: the loop's magnitude response in real time from a
// periodic sweep. One program built twice: tessaly, +1 .. -2 dB at 100 pixels
// per dB in a 1025 x 301 window, and (with ORBISCA defined) orbisca, +-30 dB at
// 10 pixels per dB in a 1025 x 601 window.
#include "display/display.hpp"
#include "dsp/fft.hpp"
#include "frame/startup.hpp"
#include "frame/stream.hpp"
#include "rtresponse/capture.hpp"
#include "rtresponse/program.hpp"
#include "rtresponse/scale.hpp"
#include "rtresponse/state.hpp"
#include "rtresponse/sweep.hpp"

namespace {

// What tells the two programs apart.
struct program_identity {
    const char* title;
    const char* client_name;
    int64_t window_height;
    response_scale_id scale;
    const char* usage_example;
};

#ifdef ORBISCA
constexpr program_identity program = {"Orbisca.exe", "orbisca", 601, scale_orbisca, "  >orbisca -d3 -b128"};
#else
constexpr program_identity program = {"Tessaly.exe", "tessaly", 301, scale_tessaly, "  >tessaly -d3 -b128"};
#endif

}  // namespace

int main(int argc, char** argv)
{
    option_set_args(argc, argv);
    response_scale_select(program.scale);
    startup_window(program.title, 1025, program.window_height);
    if (usage_wanted()) {
        response_usage_show("ASIO realtime frequency response measurement program, ", program.usage_example);
        return 0;
    }
    const response_options options = response_options_read();
    rtresponse::response_buffer_frames = options.buffer.frames;

    // FFT tables and the sweep exist before PortAudio is touched.
    fft_2048(rtresponse::spectrum_re, rtresponse::spectrum_im, -1, 1);
    build_sweep_table();

    // The buffer size is only shown: the stream's latency is fixed, so only the
    // server's quantum can meet it.
    const measurement_frame frame{.client_name = program.client_name,
                                  .callback = analyser_callback,
                                  .suggested_latency = 0.001333,
                                  .refresh = response_refresh,
                                  .stall_advice = "try a PipeWire quantum of 64 frames"};
    return frame_run(options.device, frame);
}
