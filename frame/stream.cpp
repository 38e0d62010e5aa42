// The stream sequence, key loop and shutdown of the windowed programs.
#include "frame/stream.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "display/display.hpp"
#include "display/plot.hpp"
#include "frame/device.hpp"
#include "frame/failure.hpp"
#include "frame/handshake.hpp"
#include "frame/host.hpp"
#include "frame/realtime.hpp"
#include "frame/stall.hpp"
#include "frame/startup.hpp"

char device_name_buffer[512];
PaStream* frame_stream = nullptr;

namespace {

// How long the shutdown may take before the program ends without it: a healthy
// stream stops within a period or two; a stalled one may never (see audio_shutdown).
constexpr int64_t shutdown_wait_ms = 2000;
constexpr int64_t stalled_shutdown_wait_ms = 300;

// The program's callback, called by counting_callback; set before the stream opens.
PaStreamCallback* program_callback = nullptr;

// The line shown during a stall (empty: stalls are not watched), and whether it is on screen.
std::string stall_text;
stall_watch watch;
std::atomic<bool> stall_shown{false};  // read by other threads through frame_stalled

int64_t now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Real-time: flushes subnormal numbers on the audio thread (set at its first
// call), counts the frames and hands them on. The count is a relaxed atomic
// add: no lock, no wait; the program's callback is untouched.
int counting_callback(const void* input, void* output, unsigned long frame_count,
                      const PaStreamCallbackTimeInfo* time_info, PaStreamCallbackFlags status_flags, void* user_data)
{
    realtime_thread_prepare();
    stream_frames.fetch_add(static_cast<int64_t>(frame_count), std::memory_order_relaxed);
    return program_callback(input, output, frame_count, time_info, status_flags, user_data);
}

// A start-up failure: terminates PortAudio, prints the message at the text
// cursor and its line with PortAudio's reason (device: the one chosen or
// named, else -1) on standard error, then pauses up to 3 s (a key cuts it
// short). Returns the program's exit status, 1. The line is made first, while
// PortAudio still has the device's record and its last host error.
int startup_failure(const measurement_frame& frame, const char* message, PaError error, int64_t device)
{
    const std::string line = failure_line(frame.client_name, std::string_view(message).substr(4), error, device);
    Pa_Terminate();
    con_print(message);
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    sleep_ms_or_key(3000);
    return 1;
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

bool device_is_jack(PaDeviceIndex device)
{
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    const PaHostApiInfo* api = info ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
    return api && api->type == paJACK;
}

int key_code(const std::string& key) { return key.empty() ? 0 : static_cast<unsigned char>(key[0]); }

// Shows the stall line in the top row of text cells, white on black like the
// start-up failures, while frames do not arrive at their rate; takes it away
// once they do again.
// The black bar reaches two rows below the text, so that what the refresh drew
// there (the tops of Karvel's axis labels) does not run into it.
void stall_report()
{
    if (stall_text.empty())
        return;
    const bool stalled = stall_check(watch, stream_frames.load(std::memory_order_relaxed), now_ms());
    const int64_t right = 8 * static_cast<int64_t>(stall_text.size()) - 1;
    if (stalled || stall_shown.load())
        gfx_fill_box(0, 0, right, 9, colour_black);
    if (stalled)
        gfx_text(0, 0, stall_text, colour_text);
    stall_shown.store(stalled);
}

// Stops and closes the stream and terminates PortAudio on a thread of its own,
// waiting at most wait_ms for it. Danger: on a JACK server that has gone away,
// PortAudio waits (ten minutes, then aborts) for a process cycle that never
// comes, in Pa_StopStream and in everything after it, Pa_Terminate included.
// Returns false when the shutdown did not finish in time; it is then left to
// itself, and the program must end without running static destructors, which
// libjack's own threads may still be using.
bool audio_shutdown(PaStream* stream, int64_t wait_ms)
{
    const auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread worker([stream, done] {
        Pa_StopStream(stream);
        Pa_CloseStream(stream);
        Pa_Terminate();
        done->store(true);
    });
    const int64_t deadline = now_ms() + wait_ms;
    while (!done->load() && now_ms() < deadline)
        sleep_ms(5);
    if (!done->load()) {
        worker.detach();
        return false;
    }
    worker.join();
    return true;
}

}  // namespace

void frame_watch_stalls(std::string_view text, int64_t window_ms)
{
    stall_text = std::string(text);
    watch = stall_watch{.window_ms = window_ms};
    stall_shown.store(false);
}

bool frame_stalled() { return stall_shown.load(); }

void frame_key_loop(const measurement_frame& frame)
{
    // True while a drawing thread that outlived its refresh still reads the
    // snapshot: it stays frozen, and no refresh starts, until the drawing ends.
    // Released earlier, the callback would overwrite what is being drawn; a
    // second drawing thread would share the display's previous-trace state.
    bool drawing_late = false;
    for (;;) {
        if (drawing_late) {
            drawing_late = !thread_wait_all(0);
            if (!drawing_late)
                snapshot_release();  // the next pass refreshes from a new snapshot
            stall_report();
        } else if (snapshot_freeze()) {
            const int64_t start = now_ms();
            frame.refresh();
            // The stall line goes over what the refresh drew, so it waits for
            // the drawing (a few tens of milliseconds) within the freeze.
            thread_wait_all(frame.refresh_hold_ms);
            stall_report();
            sleep_ms(frame.refresh_hold_ms - (now_ms() - start));
            drawing_late = !thread_wait_all(0);
            if (!drawing_late)
                snapshot_release();
        } else {
            stall_report();
        }
        sleep_ms(frame.pass_pause_ms);
        const std::string key = key_poll();
        const int code = key_code(key);
        if (frame.erase_keys && (code == 'e' || code == 'E' || code == 'r' || code == 'R')) {
            int64_t width, height;
            gfx_size(width, height);
            plot_fill_box(0, 0, width, height, colour_black);
            sleep_ms(100);
        }
        if (code == key_escape || code == key_ctrl_c)
            return;
    }
}

namespace {

// frame_run up to the closing of the window.
int run_stream(int64_t device_option, const measurement_frame& frame)
{
    const PaError initialized = audio_initialize(frame.client_name);
    if (initialized != paNoError)
        return startup_failure(frame, "!!! PortAudio initialize error", initialized, -1);
    PaDeviceIndex device = paNoDevice;
    if (device_option < 0) {
        device = default_device();
        if (device == paNoDevice)
            return startup_failure(frame, "!!! no ASIO device", paNoError, -1);
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
    program_callback = frame.callback;
    // A device option that names no device never reaches PortAudio's records.
    const PaError opened = device == paNoDevice ? paInvalidDevice
                                                : Pa_OpenStream(&stream, &parameters, &parameters, 48000.0, 1, paNoFlag,
                                                                counting_callback, nullptr);
    if (opened != paNoError)
        return startup_failure(frame, "!!! PortAudio stream setting error", opened,
                               device_option < 0 ? device : device_option);
    const PaError started = Pa_StartStream(stream);
    if (started != paNoError)
        return startup_failure(frame, "!!! PortAudio can't start stream", started, device);
    frame_stream = stream;
    const bool on_jack = device_is_jack(device);
    const std::string jack_client = on_jack ? jack_client_name() : std::string();
    frame_watch_stalls(stall_message(on_jack, frame.stall_advice));
    if (frame.after_start)
        frame.after_start();
    frame_key_loop(frame);
    const bool stalled = frame_stalled();
    frame_watch_stalls("");
    frame_stream = nullptr;
    if (!audio_shutdown(stream, stalled ? stalled_shutdown_wait_ms : shutdown_wait_ms)) {
        // PortAudio could not let go of a dead stream: the window closes and the
        // program ends here, with the same status as every other path.
        jack_client_leftovers_remove(jack_client);
        window_finish();
        std::_Exit(0);
    }
    return 0;
}

}  // namespace

int frame_run(int64_t device_option, const measurement_frame& frame)
{
    const int status = run_stream(device_option, frame);
    window_finish();
    return status;
}
