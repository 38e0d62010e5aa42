// The refresh of the response programs, run by the key loop inside the freeze.
#include "display/display.hpp"
#include "frame/stream.hpp"
#include "rtresponse/program.hpp"
#include "rtresponse/shared_response.hpp"

int64_t response_buffer_frames = 64;

// The analysis reads the frozen snapshot here on the main thread; the drawing
// runs on its own thread, which is never waited for.
void response_refresh()
{
    response_analysis();
    thread_start(response_display, spectrum_re, response_buffer_frames, device_name_buffer);
}
