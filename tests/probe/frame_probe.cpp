// frame_probe: the measurement frame with a callback that only counts, for the
// end-to-end tests. Each refresh prints one line to standard output:
//   rate=<stream sample rate> frames=<callbacks> largest=<largest frame count>
//   span=<stream seconds between the first and the latest callback>
// Output 1 carries a small constant, output 2 silence.
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "display/display.hpp"
#include "frame/options.hpp"
#include "frame/startup.hpp"
#include "frame/stream.hpp"

namespace {

std::atomic<int64_t> frames{0};
std::atomic<int64_t> largest_count{0};
std::atomic<double> first_time{-1.0};
std::atomic<double> latest_time{-1.0};

int probe_callback(const void*, void* output, unsigned long count, const PaStreamCallbackTimeInfo* time,
                   PaStreamCallbackFlags, void*)
{
    float* out = static_cast<float*>(output);
    for (unsigned long i = 0; i < count; i++) {
        out[2 * i] = 0.25f;
        out[2 * i + 1] = 0.0f;
    }
    frames.fetch_add(static_cast<int64_t>(count));
    if (static_cast<int64_t>(count) > largest_count.load())
        largest_count.store(static_cast<int64_t>(count));
    const double now = time ? time->currentTime : 0.0;
    if (first_time.load() < 0)
        first_time.store(now);
    latest_time.store(now);
    return paContinue;
}

void print_counts()
{
    const PaStreamInfo* info = frame_stream ? Pa_GetStreamInfo(frame_stream) : nullptr;
    std::printf("rate=%.0f frames=%lld largest=%lld span=%.6f name=%s\n", info ? info->sampleRate : 0.0,
                static_cast<long long>(frames.load()), static_cast<long long>(largest_count.load()),
                latest_time.load() - first_time.load(), device_name_buffer);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    option_set_args(argc, argv);
    startup_window("Probe.exe", 320, 80);
    return frame_run(option_value("d"), {.client_name = "probe",
                                         .callback = probe_callback,
                                         .suggested_latency = 0.001333,
                                         .refresh = print_counts,
                                         .stall_advice = "try a larger -b",
                                         .erase_keys = true});
}
