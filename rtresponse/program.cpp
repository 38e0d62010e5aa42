// The real-time analyser program: start-up, sweep, stream and key loop.
#include "rtresponse/program.hpp"

#include "dsp/fft.hpp"
#include "frame/startup.hpp"
#include "frame/stream.hpp"
#include "rtresponse/analyser.hpp"
#include "rtresponse/shared_response.hpp"

int analyser_run(int argc, char** argv, response_scale_id scale_id)
{
    const response_scale& scale = response_scale_select(scale_id);
    response_options options;
    if (!response_startup(argc, argv, scale.title, analyser_usage_heading, scale.usage_example, options))
        return 0;
    response_buffer_frames = options.buffer.frames;

    // FFT tables and the sweep exist before PortAudio is touched. The buffer
    // size is only shown: the stream's latency is fixed.
    fft_2048(spectrum_re, spectrum_im, -1, 1);
    build_sweep_table();

    // The stream's latency is fixed, so only the server's quantum can meet it.
    const measurement_frame frame{.client_name = scale.client_name,
                                  .callback = analyser_callback,
                                  .suggested_latency = 0.001333,
                                  .after_start = nullptr,
                                  .refresh = response_refresh,
                                  .erase_keys = false,
                                  .stall_advice = "try a PipeWire quantum of 64 frames"};
    const int status = frame_run(options.device, frame);
    window_finish();
    return status;
}
