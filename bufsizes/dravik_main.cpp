// dravik: lists the devices of the chosen host API with their PortAudio device
// index, name and smallest and largest buffer size, then waits for a key.
#include <cstdio>

#include "bufsizes/buffer_sizes.hpp"
#include "bufsizes/listing.hpp"
#include "display/display.hpp"
#include "frame/device.hpp"
#include "frame/failure.hpp"

namespace {

// The current device's name, refilled for every row.
char name_buffer[512] = {};

// One row per device of the host API, in the host API's order; returns the
// number of rows. A device that cannot open the programs' stream says so.
int list_devices(PaHostApiIndex api, const PaHostApiInfo& info)
{
    int rows = 0;
    for (int i = 0; i < info.deviceCount; i++) {
        const PaDeviceIndex device = Pa_HostApiDeviceIndexToDeviceIndex(api, i);
        if (device < 0)
            continue;
        // Cleared for every device: a failed query shows 0/0, never the sizes
        // of the device before it.
        long minimum = 0, maximum = 0, preferred = 0, granularity = 0;
        buffer_size_range(info.type, device, minimum, maximum, preferred, granularity);
        device_name(device, name_buffer);
        const PaDeviceInfo* device_info = Pa_GetDeviceInfo(device);
        con_print(listing_row(device, name_buffer, minimum, maximum) +
                  (device_info ? listing_channel_note(device_info->maxInputChannels, device_info->maxOutputChannels)
                               : std::string()));
        rows++;
    }
    return rows;
}

}  // namespace

// Takes no options: whatever is on the command line is ignored. Ends with
// status 1 when PortAudio could not start or has no host API, after its line
// on standard error.
int main()
{
    // Ctrl-C becomes a key like any other, so the terminal is restored on exit.
    display_catch_signals();
    // Without PortAudio or without any host API the table simply has no rows.
    const PaError initialized = audio_initialize("dravik");
    const PaHostApiIndex api = initialized == paNoError ? host_api_choose() : -1;
    const PaHostApiInfo* info = api >= 0 ? Pa_GetHostApiInfo(api) : nullptr;
    if (initialized != paNoError)
        std::fprintf(stderr, "%s\n", failure_line("dravik", "PortAudio initialize error", initialized, -1).c_str());
    else if (!info)
        std::fprintf(stderr, "%s\n", failure_line("dravik", "no host API", api < 0 ? api : paNoError, -1).c_str());

    con_print(listing_title);
    con_print(listing_columns);
    con_print(listing_rule);
    const int rows = info ? list_devices(api, *info) : 0;
    con_print(listing_rule);
    if (rows == 0)
        con_print(listing_no_devices);
    Pa_Terminate();
    con_print(listing_closing_line());
    sleep_ms_or_key(-1);
    return info ? 0 : 1;
}
