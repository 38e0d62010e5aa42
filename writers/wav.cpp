// The WAV writer.
#include "writers/wav.hpp"

#ifdef WRITERS_HAVE_SNDFILE
#include <sndfile.h>
#endif

std::string wav_write(const std::string& path, int64_t rate, int channels, std::span<const float> samples)
{
    if (rate < 1 || rate > 1000000000)
        return path + ": sample rate " + std::to_string(rate) + " Hz out of range";
    if (channels < 1 || channels > 1024)
        return path + ": " + std::to_string(channels) + " channels out of range";
    if (samples.size() % static_cast<size_t>(channels) != 0)
        return path + ": " + std::to_string(samples.size()) + " samples do not make whole frames of " +
               std::to_string(channels) + " channels";
#ifndef WRITERS_HAVE_SNDFILE
    return path + ": this build has no libsndfile to write WAV files with";
#else
    SF_INFO info{};
    info.samplerate = static_cast<int>(rate);
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        return path + ": " + sf_strerror(nullptr);
    const sf_count_t frames = static_cast<sf_count_t>(samples.size() / static_cast<size_t>(channels));
    const sf_count_t written = sf_writef_float(file, samples.data(), frames);
    std::string error;
    if (written != frames)
        error = path + ": " + sf_strerror(file);
    if (sf_close(file) != 0 && error.empty())
        error = path + ": closing failed";
    return error;
#endif
}
