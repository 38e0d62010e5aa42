// Buffer-size queries for the ASIO, JACK and ALSA host APIs behind one call;
// the queries themselves are in the platform's file (sizes_posix.cpp,
// sizes_windows.cpp).
#include "bufsizes/buffer_sizes.hpp"

#include "frame/device.hpp"

std::string alsa_pcm_name(std::string_view device_name)
{
    const size_t open = device_name.rfind("(hw:");
    if (open != std::string_view::npos) {
        const size_t close = device_name.find(')', open);
        if (close != std::string_view::npos)
            return std::string(device_name.substr(open + 1, close - open - 1));
    }
    return std::string(device_name);
}

bool buffer_size_range(PaHostApiTypeId type, PaDeviceIndex device, long& min, long& max, long& preferred,
                       long& granularity)
{
    min = 0;
    max = 0;
    preferred = 0;
    granularity = 0;
    if (device_exists(device) && host_buffer_sizes(type, device, min, max, preferred, granularity))
        return true;
    min = 0;
    max = 0;
    preferred = 0;
    granularity = 0;
    return false;
}
