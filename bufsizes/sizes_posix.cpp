// Buffer-size queries on Linux: the JACK server's period and the ALSA
// hardware's period-size range.
#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <climits>

#include "bufsizes/buffer_sizes.hpp"

namespace {

// Our own short-lived client beside PortAudio's; libjack renames it if taken.
constexpr const char* jack_query_client_name = "dravik-sizes";

// A frame count as the long that the listing prints, never wrapping negative.
long frames_as_long(snd_pcm_uframes_t frames)
{
    return frames > static_cast<snd_pcm_uframes_t>(LONG_MAX) ? LONG_MAX : static_cast<long>(frames);
}

// Period-size range of one direction of the PCM; the PCM is closed before returning.
bool alsa_stream_period_range(const char* pcm_name, snd_pcm_stream_t stream, long& min, long& max)
{
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, pcm_name, stream, SND_PCM_NONBLOCK) < 0)
        return false;
    snd_pcm_hw_params_t* params = nullptr;
    bool found = false;
    if (snd_pcm_hw_params_malloc(&params) >= 0) {
        snd_pcm_uframes_t lowest = 0, highest = 0;
        int lowest_dir = 0, highest_dir = 0;
        if (snd_pcm_hw_params_any(pcm, params) >= 0 &&
            snd_pcm_hw_params_get_period_size_min(params, &lowest, &lowest_dir) >= 0 &&
            snd_pcm_hw_params_get_period_size_max(params, &highest, &highest_dir) >= 0) {
            // A direction of +1 on the minimum (-1 on the maximum) means the
            // bound itself is excluded: step inside to the nearest whole frame.
            if (lowest_dir > 0)
                lowest++;
            if (highest_dir < 0 && highest > 0)
                highest--;
            found = lowest > 0 && highest >= lowest;
            if (found) {
                min = frames_as_long(lowest);
                max = frames_as_long(highest);
            }
        }
        snd_pcm_hw_params_free(params);
    }
    snd_pcm_close(pcm);
    return found;
}

}  // namespace

bool alsa_period_range(const char* pcm_name, long& min, long& max)
{
    min = 0;
    max = 0;
    if (alsa_stream_period_range(pcm_name, SND_PCM_STREAM_PLAYBACK, min, max) ||
        alsa_stream_period_range(pcm_name, SND_PCM_STREAM_CAPTURE, min, max))
        return true;
    return false;
}

bool jack_period_size(long& frames)
{
    frames = 0;
    // No server name is passed: libjack then takes JACK_DEFAULT_SERVER or
    // "default", exactly as for PortAudio's own client.
    jack_status_t status{};
    jack_client_t* client = jack_client_open(jack_query_client_name, JackNoStartServer, &status);
    if (!client)
        return false;
    frames = static_cast<long>(jack_get_buffer_size(client));
    jack_client_close(client);
    return frames > 0;
}

bool host_buffer_sizes(PaHostApiTypeId type, PaDeviceIndex device, long& min, long& max, long& preferred, long&)
{
    switch (type) {
    case paJACK:
        if (!jack_period_size(preferred))
            return false;
        min = preferred;
        max = preferred;
        return true;
    case paALSA: return alsa_period_range(alsa_pcm_name(Pa_GetDeviceInfo(device)->name).c_str(), min, max);
    default: return false;
    }
}
