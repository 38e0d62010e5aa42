// loopdev as an ALSA external plugin (ioplug): a timed loop device that
// keeps time without a sound card, for jackd's ALSA backend in the tests.
// Playback and capture opened in one process (jackd opens both) share a ring
// (loopdev_ring.hpp) keyed by the PCM's name: what is played at stream index
// i is captured at i + delay. Each stream moves a period at a time on the
// monotonic clock at the nominal rate, waking its poller through a timerfd
// (its poll descriptor), as a card's period interrupts do.
//
// Configuration (a private file given by ALSA_CONFIG_PATH, no system file):
//   pcm_type.loopdev { lib "/path/libasound_module_pcm_loopdev.so" }
//   pcm.loop { type loopdev delay 300 channels 2 rate 48000 step 0 log "/path/loopdev.log" }
// step: how many frames the position moves at a time; 0 (the default) a
// period, as a card's DMA interrupts; 1 a position read at any frame, which
// PipeWire's timer-driven ALSA nodes expect (with a period's steps they
// resynchronise, seeing the delay jump).
// The log says when each stream opened, started and ran out (xrun): with the
// delay, the truth the tests compare with.
//
// jackd's driver thread is the one caller of both streams' transfers, so the
// ring itself is not locked; only the table of rings is, at open and close.
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>

#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "tools/loopdev/loopdev_ring.hpp"

namespace {

constexpr int64_t loopdev_capacity_slack = 1 << 16;  // frames beyond the delay: more than any buffer jackd asks
constexpr int64_t loopdev_sample_bytes = 4;          // S32_LE, the one format offered

// What the two directions of one device share: the ring, and when each started.
struct loopdev_device {
    loopdev_ring ring;
    int64_t playback_start_ns = -1, capture_start_ns = -1;
    loopdev_device(int64_t frame_bytes, int64_t delay, int64_t capacity) : ring(frame_bytes, delay, capacity) {}
};

struct loopdev_shared {
    std::mutex lock;
    std::map<std::string, std::weak_ptr<loopdev_device>> rings;
};
loopdev_shared& loopdev_table()
{
    static loopdev_shared table;
    return table;
}

struct loopdev_stream {
    snd_pcm_ioplug_t io{};
    std::shared_ptr<loopdev_device> device;
    int64_t step = 0;  // the position's granularity in frames; 0: a period
    std::string log_path;
    int timer = -1;
    int64_t start_ns = 0;
    int64_t next_period = 1;
    snd_pcm_uframes_t boundary = 0;
    bool running = false;
};

int64_t loopdev_now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

const char* loopdev_direction(const loopdev_stream& s)
{
    return s.io.stream == SND_PCM_STREAM_PLAYBACK ? "playback" : "capture";
}

void loopdev_log(const loopdev_stream& s, const std::string& line)
{
    if (s.log_path.empty())
        return;
    if (FILE* f = std::fopen(s.log_path.c_str(), "a")) {
        std::fprintf(f, "%s stream=%s\n", line.c_str(), loopdev_direction(s));
        std::fclose(f);
    }
}

// The position since the start, in frames (whole periods).
int64_t loopdev_position_now(const loopdev_stream& s)
{
    if (!s.running)
        return 0;
    return loopdev_position(loopdev_now() - s.start_ns, s.io.rate, s.step > 0 ? s.step : int64_t(s.io.period_size));
}

// The capture's index less the playback's at one instant (loopdev_stream_offset).
int64_t loopdev_offset(const loopdev_stream& s)
{
    const loopdev_device& d = *s.device;
    if (d.playback_start_ns < 0 || d.capture_start_ns < 0)
        return 0;
    const int64_t linked_ns = int64_t(s.io.period_size) * 1'000'000'000 / int64_t(s.io.rate);
    return loopdev_stream_offset(d.capture_start_ns, d.playback_start_ns, s.io.rate, linked_ns);
}

// The timer set to the next period boundary after the position now.
void loopdev_arm(loopdev_stream& s)
{
    const int64_t periods = loopdev_position_now(s) / int64_t(s.io.period_size);
    s.next_period = periods + 1;
    const int64_t at = s.start_ns + loopdev_period_time(s.next_period, s.io.rate, s.io.period_size);
    itimerspec t{};
    t.it_value.tv_sec = at / 1'000'000'000;
    t.it_value.tv_nsec = at % 1'000'000'000;
    timerfd_settime(s.timer, TFD_TIMER_ABSTIME, &t, nullptr);
}

int loopdev_start(snd_pcm_ioplug_t* io)
{
    auto& s = *static_cast<loopdev_stream*>(io->private_data);
    s.start_ns = loopdev_now();
    s.running = true;
    (io->stream == SND_PCM_STREAM_PLAYBACK ? s.device->playback_start_ns : s.device->capture_start_ns) = s.start_ns;
    loopdev_arm(s);
    loopdev_log(s, "start");
    return 0;
}

int loopdev_stop(snd_pcm_ioplug_t* io)
{
    auto& s = *static_cast<loopdev_stream*>(io->private_data);
    s.running = false;
    itimerspec off{};
    timerfd_settime(s.timer, 0, &off, nullptr);
    return 0;
}

snd_pcm_sframes_t loopdev_pointer(snd_pcm_ioplug_t* io)
{
    auto& s = *static_cast<loopdev_stream*>(io->private_data);
    const int64_t position = loopdev_position_now(s);
    const int64_t appl = int64_t(io->appl_ptr);
    const bool xrun = s.running && (io->stream == SND_PCM_STREAM_PLAYBACK
                                        ? loopdev_playback_xrun(position, appl)
                                        : loopdev_capture_xrun(position, appl, int64_t(io->buffer_size)));
    if (xrun) {
        loopdev_log(s, "xrun position=" + std::to_string(position) + " appl=" + std::to_string(appl));
        return -EPIPE;
    }
    return s.boundary ? snd_pcm_sframes_t(uint64_t(position) % s.boundary)
                      : snd_pcm_sframes_t(position % int64_t(io->buffer_size));
}

unsigned char* loopdev_frames(const snd_pcm_channel_area_t* areas, snd_pcm_uframes_t offset)
{
    return static_cast<unsigned char*>(areas[0].addr) + (areas[0].first + offset * areas[0].step) / 8;
}

snd_pcm_sframes_t loopdev_transfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas, snd_pcm_uframes_t offset,
                                   snd_pcm_uframes_t size)
{
    auto& s = *static_cast<loopdev_stream*>(io->private_data);
    // The stream index of the first frame is the application's position: a
    // capture may be asked for the same frames again before it commits them.
    if (io->stream == SND_PCM_STREAM_PLAYBACK)
        s.device->ring.write(int64_t(io->appl_ptr), loopdev_frames(areas, offset), int64_t(size));
    else
        s.device->ring.read(int64_t(io->appl_ptr) - loopdev_offset(s), loopdev_frames(areas, offset), int64_t(size));
    return snd_pcm_sframes_t(size);
}

int loopdev_prepare(snd_pcm_ioplug_t* io)
{
    auto& s = *static_cast<loopdev_stream*>(io->private_data);
    loopdev_stop(io);
    if (io->stream == SND_PCM_STREAM_PLAYBACK)
        s.device->ring.reset();
    return 0;
}

int loopdev_sw_params(snd_pcm_ioplug_t* io, snd_pcm_sw_params_t* params)
{
    auto& s = *static_cast<loopdev_stream*>(io->private_data);
    snd_pcm_sw_params_get_boundary(params, &s.boundary);
    return 0;
}

int loopdev_hw_params(snd_pcm_ioplug_t* io, snd_pcm_hw_params_t*)
{
    auto& s = *static_cast<loopdev_stream*>(io->private_data);
    if (int64_t(io->channels) * loopdev_sample_bytes != s.device->ring.frame_bytes())
        return -EINVAL;
    loopdev_log(s, "hw_params rate=" + std::to_string(io->rate) + " period=" + std::to_string(io->period_size) +
                       " buffer=" + std::to_string(io->buffer_size));
    return 0;
}

int loopdev_poll_revents(snd_pcm_ioplug_t* io, struct pollfd* pfds, unsigned int nfds, unsigned short* revents)
{
    auto& s = *static_cast<loopdev_stream*>(io->private_data);
    uint64_t expirations = 0;
    if (nfds >= 1 && (pfds[0].revents & POLLIN)) [[maybe_unused]]
        ssize_t got = ::read(s.timer, &expirations, sizeof expirations);
    *revents = 0;
    if (!s.running)
        return 0;
    const int64_t position = loopdev_position_now(s);
    loopdev_arm(s);
    const int64_t appl = int64_t(io->appl_ptr);
    const bool playback = io->stream == SND_PCM_STREAM_PLAYBACK;
    const int64_t avail = playback ? loopdev_playback_avail(position, appl, int64_t(io->buffer_size))
                                   : loopdev_capture_avail(position, appl);
    if (avail >= int64_t(io->period_size) ||
        (playback ? loopdev_playback_xrun(position, appl) : loopdev_capture_xrun(position, appl, io->buffer_size)))
        *revents = playback ? POLLOUT : POLLIN;
    return 0;
}

int loopdev_close(snd_pcm_ioplug_t* io)
{
    auto* s = static_cast<loopdev_stream*>(io->private_data);
    loopdev_log(*s, "close");
    if (s->timer >= 0)
        ::close(s->timer);
    {
        std::lock_guard<std::mutex> hold(loopdev_table().lock);
        s->device.reset();
    }
    delete s;
    return 0;
}

const snd_pcm_ioplug_callback_t loopdev_callbacks = [] {
    snd_pcm_ioplug_callback_t c{};
    c.start = loopdev_start;
    c.stop = loopdev_stop;
    c.pointer = loopdev_pointer;
    c.transfer = loopdev_transfer;
    c.close = loopdev_close;
    c.hw_params = loopdev_hw_params;
    c.sw_params = loopdev_sw_params;
    c.prepare = loopdev_prepare;
    c.poll_revents = loopdev_poll_revents;
    return c;
}();

// A number from the configuration: an integer, or a string holding one.
bool loopdev_integer(snd_config_t* n, long& value)
{
    if (snd_config_get_integer(n, &value) == 0)
        return true;
    const char* text = nullptr;
    if (snd_config_get_string(n, &text) < 0)
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0';
}

}  // namespace

extern "C" SND_PCM_PLUGIN_DEFINE_FUNC(loopdev)
{
    long delay = 0, channels = 2, rate = 48000, step = 0;
    std::string log_path;
    snd_config_iterator_t i, next;
    snd_config_for_each(i, next, conf)
    {
        snd_config_t* n = snd_config_iterator_entry(i);
        const char* id = nullptr;
        if (snd_config_get_id(n, &id) < 0)
            continue;
        const std::string key = id;
        if (key == "comment" || key == "type" || key == "hint")
            continue;
        long* number = key == "delay"      ? &delay
                       : key == "channels" ? &channels
                       : key == "rate"     ? &rate
                       : key == "step"     ? &step
                                           : nullptr;
        if (number) {
            if (!loopdev_integer(n, *number)) {
                SNDERR("loopdev: %s is not an integer", id);
                return -EINVAL;
            }
            continue;
        }
        const char* text = nullptr;
        if (key == "log" && snd_config_get_string(n, &text) == 0) {
            log_path = text;
            continue;
        }
        SNDERR("loopdev: unknown field %s", id);
        return -EINVAL;
    }
    if (channels < 1 || channels > 64 || rate < 8000 || rate > 768000 || step < 0) {
        SNDERR("loopdev: channels %ld or rate %ld out of range", channels, rate);
        return -EINVAL;
    }
    const int64_t frame_bytes = channels * loopdev_sample_bytes;
    const int64_t capacity = delay + loopdev_capacity_slack;
    if (const std::string why = loopdev_ring::check(frame_bytes, delay, capacity); !why.empty()) {
        SNDERR("loopdev: %s", why.c_str());
        return -EINVAL;
    }

    auto* s = new loopdev_stream;
    s->log_path = log_path;
    s->step = step;
    {
        // Both directions of one device share its ring; the first to open makes it.
        std::lock_guard<std::mutex> hold(loopdev_table().lock);
        auto& slot = loopdev_table().rings[name ? name : ""];
        s->device = slot.lock();
        if (!s->device || s->device->ring.delay() != delay || s->device->ring.frame_bytes() != frame_bytes) {
            s->device = std::make_shared<loopdev_device>(frame_bytes, delay, capacity);
            slot = s->device;
        }
    }
    s->timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (s->timer < 0) {
        const int error = -errno;
        delete s;
        return error;
    }
    s->io.version = SND_PCM_IOPLUG_VERSION;
    s->io.name = "loopdev: the rig's timed loop device";
    s->io.callback = &loopdev_callbacks;
    s->io.private_data = s;
    s->io.poll_fd = s->timer;
    s->io.poll_events = POLLIN;
    s->io.mmap_rw = 0;
    s->io.flags = SND_PCM_IOPLUG_FLAG_BOUNDARY_WA | SND_PCM_IOPLUG_FLAG_MONOTONIC;
    int err = snd_pcm_ioplug_create(&s->io, name, stream, mode);
    if (err < 0) {
        ::close(s->timer);
        delete s;
        return err;
    }
    static const unsigned int access[] = {SND_PCM_ACCESS_MMAP_INTERLEAVED, SND_PCM_ACCESS_RW_INTERLEAVED};
    static const unsigned int format[] = {SND_PCM_FORMAT_S32_LE};
    if ((err = snd_pcm_ioplug_set_param_list(&s->io, SND_PCM_IOPLUG_HW_ACCESS, 2, access)) < 0 ||
        (err = snd_pcm_ioplug_set_param_list(&s->io, SND_PCM_IOPLUG_HW_FORMAT, 1, format)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&s->io, SND_PCM_IOPLUG_HW_CHANNELS, unsigned(channels),
                                               unsigned(channels))) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&s->io, SND_PCM_IOPLUG_HW_RATE, unsigned(rate), unsigned(rate))) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&s->io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, unsigned(16 * frame_bytes),
                                               unsigned(8192 * frame_bytes))) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&s->io, SND_PCM_IOPLUG_HW_PERIODS, 2, 16)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&s->io, SND_PCM_IOPLUG_HW_BUFFER_BYTES, unsigned(32 * frame_bytes),
                                               unsigned(16 * 8192 * frame_bytes))) < 0) {
        snd_pcm_ioplug_delete(&s->io);
        return err;
    }
    loopdev_log(*s, "open delay=" + std::to_string(delay));
    *pcmp = s->io.pcm;
    return 0;
}

extern "C" {
SND_PCM_PLUGIN_SYMBOL(loopdev)
}
