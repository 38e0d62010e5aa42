// Start-up of the response programs: window, usage text and options.
#include "frame/startup.hpp"

#include "frame/options.hpp"
#include "rtresponse/program.hpp"
#include "rtresponse/shared_response.hpp"

response_options response_options_read()
{
    response_options options;
    options.device = option_value("d");
    options.buffer = buffer_size_lookup(option_value("b"), 2048);
    loopback_mode = option_value("t");
    return options;
}

void response_usage_show(std::string_view heading, std::string_view example)
{
    usage_show({heading,
                "",
                "option",
                "  -d : set device index of PortAudio",
                "  -b : set buffer size (8/16/32/64/128/256/512/1024/2048)",
                "  -t : internal (software) loopback test",
                "",
                "example",
                example,
                "",
                "hit any key to exit"});
}

bool response_startup(int argc, char** argv, std::string_view title, std::string_view usage_heading,
                      std::string_view usage_example, response_options& options)
{
    option_set_args(argc, argv);
    startup_window(title, response_window_width, response_scale_selected().window_height);
    if (usage_wanted()) {
        response_usage_show(usage_heading, usage_example);
        return false;
    }
    options = response_options_read();
    return true;
}
