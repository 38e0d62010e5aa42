// The stream sequence, key loop and shutdown of the windowed programs.
#include "frame/stream.hpp"

#include <string>

#include "display/display.hpp"
#include "display/plot.hpp"
#include "frame/device.hpp"
#include "frame/handshake.hpp"

char device_name_buffer[512];
PaStream* frame_stream = nullptr;

namespace {

// Prints the message at the text cursor, pauses up to 3 s (a key cuts it
// short); the caller has already terminated PortAudio.
int failure_exit(const char* message)
{
    con_print(message);
    sleep_ms_or_key(3000);
    return 0;
}

// First device of the chosen host API, or paNoDevice when it lists none.
PaDeviceIndex default_device()
{
    const PaHostApiIndex api = host_api_choose();
    const PaHostApiInfo* info = api >= 0 ? Pa_GetHostApiInfo(api) : nullptr;
    if (!info || info->deviceCount <= 0)
        return paNoDevice;
    return Pa_HostApiDeviceIndexToDeviceIndex(api, 0);
}

int key_code(const std::string& key) { return key.empty() ? 0 : static_cast<unsigned char>(key[0]); }

}  // namespace

void frame_key_loop(const measurement_frame& frame)
{
    for (;;) {
        if (snapshot_freeze()) {
            frame.refresh();
            sleep_ms(800);
            snapshot_release();
        }
        sleep_ms(200);
        const std::string key = key_poll();
        const int code = key_code(key);
        if (frame.erase_keys && (code == 'e' || code == 'E' || code == 'r' || code == 'R')) {
            int64_t width, height;
            gfx_size(width, height);
            plot_fill_box(0, 0, width, height, 0);
            sleep_ms(100);
        }
        if (code == 27 || code == 3)
            return;
    }
}

int frame_run(int64_t device_option, const measurement_frame& frame)
{
    if (audio_initialize(frame.client_name) != paNoError) {
        Pa_Terminate();
        return failure_exit("!!! PortAudio initialize error");
    }
    PaDeviceIndex device = paNoDevice;
    if (device_option < 0) {
        device = default_device();
        if (device == paNoDevice) {
            Pa_Terminate();
            return failure_exit("!!! no ASIO device");
        }
    } else if (device_exists(device_option)) {
        device = static_cast<PaDeviceIndex>(device_option);
    }
    device_name(device, device_name_buffer);

    PaStreamParameters parameters{};
    parameters.device = device;
    parameters.channelCount = 2;
    parameters.sampleFormat = paFloat32;
    parameters.suggestedLatency = frame.suggested_latency;
    parameters.hostApiSpecificStreamInfo = nullptr;
    PaStream* stream = nullptr;
    // A device option that names no device never reaches PortAudio's records.
    if (device == paNoDevice ||
        Pa_OpenStream(&stream, &parameters, &parameters, 48000.0, 1, paNoFlag, frame.callback, nullptr) != paNoError) {
        Pa_Terminate();
        return failure_exit("!!! PortAudio stream setting error");
    }
    if (Pa_StartStream(stream) != paNoError) {
        Pa_Terminate();
        return failure_exit("!!! PortAudio can't start stream");
    }
    frame_stream = stream;
    if (frame.after_start)
        frame.after_start();
    frame_key_loop(frame);
    Pa_StopStream(stream);
    Pa_CloseStream(stream);
    frame_stream = nullptr;
    Pa_Terminate();
    return 0;
}
