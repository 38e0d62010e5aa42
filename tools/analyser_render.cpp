// analyser_render: runs the real-time analyser's callback in-process on its
// software loopback (-t) for a number of frames, then draws one refresh into a
// memory framebuffer and writes it as a PPM picture, so that end-to-end tests
// can compare a screenshot of the real program with the expected window.
//
//   analyser_render tessaly|orbisca FRAMES DEVICE_NAME BUFFER_SIZE OUT.ppm
#include <cstdlib>
#include <cstring>
#include <string>

#include "display/display.hpp"
#include "display/hooks.hpp"
#include "dsp/fft.hpp"
#include "frame/handshake.hpp"
#include "rtresponse/analysis.hpp"
#include "rtresponse/capture.hpp"
#include "rtresponse/display.hpp"
#include "rtresponse/scale.hpp"
#include "rtresponse/state.hpp"
#include "rtresponse/sweep.hpp"
#include "tools/ppm.hpp"

int main(int argc, char** argv)
{
    using namespace rtresponse;
    if (argc != 6) {
        std::fprintf(stderr, "usage: analyser_render tessaly|orbisca FRAMES DEVICE_NAME BUFFER_SIZE OUT.ppm\n");
        return 2;
    }
    const response_scale& scale =
        response_scale_select(std::strcmp(argv[1], "orbisca") == 0 ? scale_orbisca : scale_tessaly);
    const long long frames = std::atoll(argv[2]);
    gfx_open_memory(response_window_width, scale.window_height);
    fft_2048(spectrum_re, spectrum_im, -1, 1);
    build_sweep_table();
    loopback_mode = 0;
    snapshot_release();
    float input[2] = {0.0f, 0.0f}, output[2];
    for (long long i = 0; i < frames; i++)
        analyser_callback(input, output, 1, nullptr, 0, nullptr);
    snapshot_freeze();
    response_analysis();
    char name[512] = {};
    std::strncpy(name, argv[3], sizeof name - 1);
    response_display(spectrum_re, std::atoll(argv[4]), name);
    return ppm_write(argv[5]) ? 0 : 1;
}
