// Options, usage text and refresh of the response programs.
#include "rtresponse/program.hpp"

#include "display/display.hpp"
#include "frame/startup.hpp"
#include "frame/stream.hpp"
#include "rtresponse/analysis.hpp"
#include "rtresponse/display.hpp"
#include "rtresponse/state.hpp"

response_options response_options_read()
{
    response_options options;
    options.device = option_value("d");
    options.buffer = buffer_size_lookup(option_value("b"), 2048);
    rtresponse::loopback_mode = option_value("t");
    return options;
}

void response_usage_show(std::string_view heading, std::string_view example)
{
    usage_show({heading, "", "option", "  -d : set device index of PortAudio",
                "  -b : set buffer size (8/16/32/64/128/256/512/1024/2048)", "  -t : internal (software) loopback test",
                "", "example", example, "", "hit any key to exit"});
}

// The drawing thread is never waited for.
void response_refresh()
{
    response_analysis();
    thread_start(response_display, rtresponse::spectrum_re, rtresponse::response_buffer_frames, device_name_buffer);
}
