// The session: PortAudio, devices, stream, runs, verdict, and one teardown.
#include "loopcheck/session.hpp"

#include <portaudio.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "analysis/sweep.hpp"
#include "frame/device.hpp"
#include "loopcheck/io/devices.hpp"
#include "loopcheck/io/stream.hpp"
#include "loopcheck/io/stream_clock.hpp"
#include "loopcheck/io/stream_jack.hpp"
#include "loopcheck/io/stream_open.hpp"
#include "loopcheck/io/stream_wait.hpp"
#include "loopcheck/latency/loops.hpp"
#include "loopcheck/latency/runs.hpp"
#include "loopcheck/monitor/monitor_run.hpp"
#include "loopcheck/quality/quality_run.hpp"
#include "loopcheck/session_plans.hpp"
#include "loopcheck/verdict/verdict.hpp"

std::atomic<bool> session_interrupted{false};

namespace {

// The audio from start to end: whatever path the session leaves by, the
// stream is stopped and closed and PortAudio, if started, terminated, in
// that order. The callback's state lives here too and is freed last, after
// the destructor's body has closed the stream that writes to it.
struct session_audio {
    std::unique_ptr<stream_state> state = std::make_unique<stream_state>();
    jack_stream* jack = nullptr;  // loopcheck's own JACK client, until a stream owns it
    bool portaudio = false;       // Pa_Initialize called: Pa_Terminate owed, whatever it returned
    stream_opened opened;
    std::string stall_advice;
    PaError portaudio_start()
    {
        portaudio = true;
        return audio_initialize("loopcheck");
    }
    ~session_audio()
    {
        stream_close(opened);
        stream_jack_release(jack);
        stream_clock_close(*state);
        if (portaudio)
            Pa_Terminate();
    }
};

void failure(check_report& r, const std::string& message)
{
    r.setup.failure = check_status::error, r.setup.reason = message;
}

// A mode that threw (the analysis refusing its input, memory run out): its
// end is an error with the exception's words, and the session goes on to its
// teardown as from any other end.
template <typename Mode>
void guarded(mode_end& end, const char* name, Mode&& mode)
{
    try {
        mode();
    } catch (const std::exception& e) {
        end.failure = check_status::error;
        end.reason = std::string(name) + ": " + e.what();
    }
}

// The host API's own words on its last error, if it left any.
std::string host_words()
{
    const PaHostErrorInfo* info = Pa_GetLastHostErrorInfo();
    return info && info->errorText && info->errorText[0] ? std::string(": ") + info->errorText : "";
}

// True when a device is one of PortAudio's JACK host API.
bool device_on_jack(PaDeviceIndex device)
{
    const PaDeviceInfo* info = device >= 0 ? Pa_GetDeviceInfo(device) : nullptr;
    const PaHostApiInfo* api = info ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
    return api && api->type == paJACK;
}

// True when the input device is JACK's and its inputs are the monitor ports
// of a sink (PipeWire's JACK face lists a sink's "monitor_FL" ... as the inputs
// of the sink's own device): what comes back there is what was played to the
// sink, one quantum later, not what the interface's cable brings.
bool input_is_monitor(const stream_state& s, PaDeviceIndex device)
{
    return device_on_jack(device) && stream_clock_inputs_are_monitor(s, Pa_GetDeviceInfo(device)->name);
}

// A host API's name as PortAudio gives it ("" for none).
std::string host_api_name(PaHostApiIndex api)
{
    const PaHostApiInfo* host = api >= 0 ? Pa_GetHostApiInfo(api) : nullptr;
    return host && host->name ? host->name : "";
}

// The name of the host API a device belongs to.
std::string device_api_name(PaDeviceIndex device)
{
    const PaDeviceInfo* info = device >= 0 ? Pa_GetDeviceInfo(device) : nullptr;
    return info ? host_api_name(info->hostApi) : "";
}

// The loop on the JACK server's first device, straight on JACK: no device
// index, as PortAudio never started to count them.
std::string open_on_jack(check_report& r, session_audio& audio, const stream_jack_device& device)
{
    r.host_api = stream_jack_host_api;
    r.out_name = r.in_name = device.name;
    audio.stall_advice = " (JACK server stopped? restart it)";
    r.input_is_monitor = stream_clock_inputs_are_monitor(*audio.state, device.name.c_str());
    jack_stream* const j = std::exchange(audio.jack, nullptr);
    return stream_jack_open(j, *audio.state, stream_request_of(r.options), device, audio.opened);
}

// The loop through PortAudio: its host API, the devices chosen, the stream.
std::string open_on_portaudio(check_report& r, session_audio& audio)
{
    stream_jack_release(std::exchange(audio.jack, nullptr));
    // JACK's frame counter shows a cycle the callback missed exactly.
    stream_clock_open(*audio.state);
    if (audio.portaudio_start() != paNoError)
        return "PortAudio could not start";
    const PaHostApiIndex api = host_api_choose();
    r.host_api = host_api_name(api);
    devices_pair pair;
    const stream_request request = stream_request_of(r.options);
    const std::string problem = devices_choose(request, api, pair);
    if (!problem.empty())
        return problem;
    // A device named by its index may belong to another host API than the
    // one chosen (ALSA's "jack" plugin is index 0 on a JACK machine): the
    // label is that of the devices opened.
    r.host_api = device_api_name(pair.output);
    const std::string input_api = device_api_name(pair.input);
    if (input_api != r.host_api)
        r.host_api += " to " + input_api;
    // The server's frame counter tells the cycles its own clients missed,
    // and nothing of a device of another host API: an ALSA card beside a
    // JACK server, or ALSA's "jack" plugin, which buffers on a clock of its
    // own. Read against those, its lead wanders and "misses" cycles that
    // never were, and spoils every run.
    if (!device_on_jack(pair.output) || !device_on_jack(pair.input))
        audio.state->clock_read = nullptr;
    r.out_device = pair.output, r.in_device = pair.input;
    r.out_name = pair.output_name, r.in_name = pair.input_name;
    audio.stall_advice = stream_stall_advice(pair.output);
    r.input_is_monitor = input_is_monitor(*audio.state, pair.input);
    return stream_open(*audio.state, request, pair, audio.opened);
}

}  // namespace

void session_run(check_report& r, const session_hooks& hooks)
{
    session_audio audio;
    const stream_request request = stream_request_of(r.options);
    audio.jack = stream_jack_connect(*audio.state, request);
    stream_jack_device device;
    std::string problem =
        stream_jack_usable(audio.jack, request, device) ? open_on_jack(r, audio, device) : open_on_portaudio(r, audio);
    if (!problem.empty())
        return failure(r, problem);
    stream_state* const state = audio.state.get();
    r.rate = audio.opened.rate;
    const double amplitude = std::pow(10.0, r.options.level_dbfs / 20.0);
    // The sweeps play on every loop at once; each loop's capture is analysed against the one sweep.
    const std::vector<float> short_sweep = sweep_make(sweep_frames(r.rate, false), r.rate, amplitude);
    const std::vector<float> long_sweep = sweep_make(sweep_frames(r.rate, true), r.rate, amplitude);
    const std::vector<float> response_sweep = sweep_make(sweep_frames_response(r.rate), r.rate, amplitude);
    state->clips.push_back({loops_interleave(short_sweep, state->loops), false});
    state->clips.push_back({loops_interleave(long_sweep, state->loops), false});
    state->clips.push_back({loops_interleave(response_sweep, state->loops), false});
    // Room for the longest run twice over, its lead and its tail included.
    const int64_t longest = std::lrint((r.options.max_delay_s + r.options.settle_s + 1.0) * r.rate) +
                            static_cast<int64_t>(long_sweep.size()) + capture_tail(r.rate, true);
    quality_clips quality;
    int64_t ring = 2 * longest;
    if (r.options.quality) {
        r.quality.plan = quality_plan_make(r.rate, state->loops);
        if (!r.quality.plan.error.empty())
            return failure(r, r.quality.plan.error);
        quality = quality_run_clips(*state, r.quality.plan);
        ring = std::max(ring, quality_run_ring_frames(r.quality.plan, std::lrint(r.options.max_delay_s * r.rate)));
    }
    // --monitor: its stimulus as a clip of its own, and a ring of 4 s at least.
    monitor_stimulus stimulus;
    if (r.options.monitor.on)
        guarded(r.watch, "--monitor", [&] { stimulus = monitor_stimulus_design(r.rate, monitor_default_level_dbfs); });
    const bool monitor = r.options.monitor.on && r.watch.failure == check_status::ok;
    const int monitor_clip = static_cast<int>(state->clips.size());
    if (monitor) {
        state->clips.push_back(monitor_clip_make(stimulus));
        ring = std::max(ring, monitor_ring_frames(r.rate));
    }
    stream_prepare(*state, ring);
    problem = stream_start(audio.opened);
    r.input_latency_frames = audio.opened.input_latency_frames;
    r.output_latency_frames = audio.opened.output_latency_frames;
    if (!problem.empty())
        return failure(r, problem);

    runs_setup setup;
    setup.short_sweep = short_sweep, setup.long_sweep = long_sweep, setup.response_sweep = response_sweep;
    setup.interrupted = &session_interrupted;
    setup.stall_advice = audio.stall_advice;
    const stream_state& s = *state;
    const double rate = r.rate;
    const stream_pace pace = stream_pace_system();
    const capture_wait wait = [&s, rate, &pace](int64_t until) {
        return stream_wait_frames(s, until, rate, session_interrupted, pace);
    };
    guarded(r.latency, "the latency", [&] {
        outcome_take(r, loops_measure(*state, latency_plan_of(r), setup, wait, hooks.on_run, r.options.out_channels,
                                      r.options.in_channels));
    });
    if (r.latency.failure == check_status::error && audio.portaudio)
        r.latency.reason += host_words();
    // The battery and the monitor only on loops that are there, hold still and are the cable.
    if (r.options.quality && verdict_blocker(r, false).empty())
        guarded(r.battery, "--quality", [&] {
            if (hooks.on_battery)
                hooks.on_battery(r);
            outcome_take(r, quality_run_measure(*state, battery_plan_of(r), quality, wait, &session_interrupted));
        });
    r.buffer_granted = state->largest_buffer.load();
    if (monitor && verdict_blocker(r, true).empty() && !session_interrupted.load())
        guarded(r.watch, "--monitor", [&] {
            // --buffers' soak under --load: the callback busy for its share of every call meanwhile.
            state->load_rate = r.rate;
            state->load_share.store(r.options.sweep.load_percent / 100.0);
            monitor_outcome m =
                monitor_run(*state, monitor_plan_of(r),
                            {monitor_clip, &stimulus, &session_interrupted, setup.stall_advice, pace, hooks.monitor});
            state->load_share.store(0.0);
            r.watch = std::move(m.end), r.monitor = std::move(m.trace), r.monitor_end = m.progress;
        });
    r.buffer_granted = state->largest_buffer.load();
}
