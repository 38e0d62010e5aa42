// The session: devices, stream, runs, verdict.
#include "loopcheck/session.hpp"

#include <portaudio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "frame/device.hpp"
#include "frame/host.hpp"
#include "loopcheck/devices.hpp"
#include "loopcheck/files.hpp"
#include "loopcheck/measure.hpp"
#include "loopcheck/stream.hpp"
#include "analysis/sweep.hpp"

namespace {

constexpr int attempts_per_run = 3;          // a run and two retries
constexpr double repeats_agree_frames = 0.5;  // runs further apart than this are unstable
constexpr double run_gap_s = 0.02;           // silence between one run's capture and the next sweep
constexpr double lengthen_below_db = 60.0;   // a run this weak is measured again with the long sweep (12 dB more)

// The verdicts that end a session early or late.
void verdict(check_report& r, const char* status, int exit_status, const std::string& message)
{
    r.status = status, r.exit_status = exit_status, r.message = message;
}
void failure(check_report& r, const std::string& message) { verdict(r, "error", 1, "loopcheck: " + message); }

PaStreamParameters side(PaDeviceIndex device, int channels, double latency)
{
    PaStreamParameters p{};
    p.device = device;
    p.channelCount = channels;
    p.sampleFormat = paFloat32;
    p.suggestedLatency = latency;
    p.hostApiSpecificStreamInfo = host_stream_info(device);  // WASAPI's mode on Windows
    return p;
}

// Picks the devices, checks channels and rate, and opens the stream; "" or the reason it could not.
// The loop's two devices: -d names one (by index or name) and the frame pairs
// it as the windowed programs do (on a host API of one-way devices, WASAPI or
// WMME, with the default of the other way); --out-device and --in-device set
// one side each. "" or the reason there are none.
std::string devices_pick(check_report& r, PaHostApiIndex api)
{
    const check_options& o = r.options;
    duplex_devices pair = duplex_choose(-1);
    if (!o.device.empty()) {
        const device_pick named = device_pick_named(o.device, api);
        if (named.index == paNoDevice)
            return named.problem;
        pair = duplex_choose(named.index);
    }
    for (const auto& [text, side] : {std::pair{&o.out_device, &pair.output}, std::pair{&o.in_device, &pair.input}}) {
        if (text->empty())
            continue;
        const device_pick named = device_pick_named(*text, api);
        if (named.index == paNoDevice)
            return named.problem;
        *side = named.index;
    }
    if (pair.input == paNoDevice || pair.output == paNoDevice)
        return "no device: start a JACK or PipeWire server, or check ALSA's cards (aplay -l)";
    r.out_device = pair.output, r.in_device = pair.input;
    r.out_name = device_name_of(pair.output), r.in_name = device_name_of(pair.input);
    // Two ALSA devices are two cards, and two clocks, unless their names show one card.
    const PaDeviceInfo* oi = Pa_GetDeviceInfo(pair.output);
    const PaDeviceInfo* ii = Pa_GetDeviceInfo(pair.input);
    const PaHostApiInfo* out_api = Pa_GetHostApiInfo(oi->hostApi);
    if (oi->hostApi != ii->hostApi)
        return "input and output on two host APIs: not supported";
    const int out_card = device_alsa_card(r.out_name), in_card = device_alsa_card(r.in_name);
    if (pair.input != pair.output && out_api && out_api->type == paALSA && (out_card < 0 || out_card != in_card))
        return "input and output on two ALSA devices run on two clocks: not supported (use one device, or JACK / "
               "PipeWire's pw-jack, where every device shares the server's clock)";
    return "";
}

// Checks channels and rate, and opens the stream; "" or the reason it could not.
std::string stream_open(check_report& r, PaStream*& stream)
{
    const check_options& o = r.options;
    const PaHostApiIndex api = host_api_choose();
    const PaHostApiInfo* host = api >= 0 ? Pa_GetHostApiInfo(api) : nullptr;
    r.host_api = host && host->name ? host->name : "";
    const std::string problem = devices_pick(r, api);
    if (!problem.empty())
        return problem;
    const PaDeviceInfo* oi = Pa_GetDeviceInfo(r.out_device);
    const PaDeviceInfo* ii = Pa_GetDeviceInfo(r.in_device);
    const PaHostApiInfo* out_api = Pa_GetHostApiInfo(oi->hostApi);
    if (oi->maxOutputChannels < o.out_channel)
        return "output channel " + std::to_string(o.out_channel) + " not present (device " +
               std::to_string(r.out_device) + " \"" + r.out_name + "\" has " + std::to_string(oi->maxOutputChannels) +
               " outputs)";
    if (ii->maxInputChannels < o.in_channel)
        return "input channel " + std::to_string(o.in_channel) + " not present (device " + std::to_string(r.in_device) +
               " \"" + r.in_name + "\" has " + std::to_string(ii->maxInputChannels) + " inputs)";
    // At least two channels where the device has them, as the windowed
    // programs open: a mono stream is the host APIs' least travelled road
    // (Wine's WASAPI carries nothing on it).
    stream_out_channels = std::max(static_cast<int>(o.out_channel), std::min(2, oi->maxOutputChannels));
    stream_in_channels = std::max(static_cast<int>(o.in_channel), std::min(2, ii->maxInputChannels));
    stream_out_channel = static_cast<int>(o.out_channel - 1), stream_in_channel = static_cast<int>(o.in_channel - 1);
    r.rate = o.rate > 0.0 ? o.rate : oi->defaultSampleRate;
    // -b as the suggested latency, at the rate asked for; ALSA's choice is
    // made again below if the rate changes (a latency in seconds scales).
    const double asked = o.buffer > 0 ? static_cast<double>(o.buffer) / r.rate : 0.0;
    PaStreamParameters output = side(r.out_device, stream_out_channels, asked > 0 ? asked : oi->defaultLowOutputLatency);
    PaStreamParameters input = side(r.in_device, stream_in_channels, asked > 0 ? asked : ii->defaultLowInputLatency);
    // PortAudio gives every ALSA plugin device (PipeWire's "default" among
    // them) 44100 Hz as its own rate, whatever the server behind it runs at:
    // there the suite's 48000 Hz, when the device takes it.
    if (o.rate <= 0.0 && out_api->type == paALSA && Pa_IsFormatSupported(&input, &output, 48000.0) == paFormatIsSupported) {
        if (asked > 0)
            input.suggestedLatency = output.suggestedLatency = static_cast<double>(o.buffer) / 48000.0;
        r.rate = 48000.0;
    }
    const std::string where = " (output device " + std::to_string(r.out_device) + " \"" + r.out_name +
                              "\", input device " + std::to_string(r.in_device) + " \"" + r.in_name + "\")";
    PaError error = Pa_IsFormatSupported(&input, &output, r.rate);
    if (error != paFormatIsSupported)
        return "rate " + std::to_string(std::lrint(r.rate)) + " Hz not granted: " + Pa_GetErrorText(error) + where;
    error = Pa_OpenStream(&stream, &input, &output, r.rate, paFramesPerBufferUnspecified, paNoFlag, stream_callback,
                          nullptr);
    if (error != paNoError)
        return std::string("PortAudio cannot open the stream: ") + Pa_GetErrorText(error) + where;
    return "";
}

// What to try when the stream stops delivering frames, as the windowed programs advise.
std::string stall_advice()
{
    const PaHostApiInfo* host = Pa_GetHostApiInfo(host_api_choose());
    return host && host->type == paJACK ? " (JACK server stopped? restart it)"
                                        : " (try another -b, or a smaller PipeWire quantum)";
}

// "no loop found within N frames (S s)", what may be wrong, and where a loop
// too long for --max-delay showed its peak.
std::string no_loop_message(const check_report& r, int64_t last_lag, const run_capture& capture)
{
    char text[320];
    std::snprintf(text, sizeof text, "no loop found within %lld frames (%.3f s)", static_cast<long long>(last_lag),
                  static_cast<double>(last_lag) / r.rate);
    if (capture.beyond)
        return text + std::string(": the loop is longer, its sweep came back from about ") +
               std::to_string(capture.result.peak) + " frames on; a longer --max-delay measures it";
    return text + std::string(": check the cable, the channels (--out, --in), that the output is not muted, and "
                              "any monitoring; a longer loop needs --max-delay");
}

// One run: attempts until one is not spoiled by a dropout (three at most),
// measured again with the long sweep if the short one leaves the loop weak.
// False when the session ends here, with its verdict set.
bool run_one(check_report& r, measure_plan& plan, bool& settled, run_report& run, run_capture& kept)
{
    const check_options& o = r.options;
    for (run.attempts = 1;;) {
        plan.lead = std::lrint((settled ? run_gap_s : o.settle_s) * r.rate);
        settled = true;
        run_capture capture = measure_run(plan);
        if (measure_interrupted.load())
            return verdict(r, "error", 130, "loopcheck: interrupted"), false;
        if (capture.beyond)
            return verdict(r, "no loop", 3, no_loop_message(r, plan.last_lag, capture)), false;
        const std::string spoiled = run_spoiled_by(capture);
        if (spoiled.empty()) {
            if (!capture.result.loop)
                return verdict(r, "no loop", 3, no_loop_message(r, plan.last_lag, capture)), false;
            if (!plan.long_sweep && capture.result.snr_db < lengthen_below_db) {
                // Not an attempt: the loop is there, only noisy. The runs after
                // this one take the long sweep at once.
                plan.long_sweep = true;
                run.lengthened = true;
                continue;
            }
            run.result = capture.result;
            run.sweep_frames = static_cast<int64_t>((plan.long_sweep ? stream_long_sweep : stream_sweep).size());
            kept = std::move(capture);
            return true;
        }
        run.dropouts.push_back(spoiled);
        if (run.attempts == attempts_per_run)
            return verdict(r, "unstable", 4,
                           "unstable: run " + std::to_string(r.runs.size() + 1) + " was spoiled " +
                               std::to_string(attempts_per_run) + " times: " + spoiled +
                               (capture.stalled ? stall_advice() : "")),
                   false;
        run.attempts++;
    }
}

// The runs, then the verdicts over them: disagreement, --expect.
void runs_measure(check_report& r, bool response, void (*on_run)(const check_report&, size_t))
{
    const check_options& o = r.options;
    measure_plan plan;
    plan.rate = r.rate;
    plan.last_lag = std::lrint(o.max_delay_s * r.rate);
    plan.tail = certain_tail(r.rate, response);
    plan.long_sweep = response;
    bool settled = false;
    for (int64_t i = 0; i < o.repeat; i++) {
        run_report run;
        run_capture capture;
        if (!run_one(r, plan, settled, run, capture))
            return;
        r.runs.push_back(run);
        if (on_run)
            on_run(r, r.runs.size() - 1);
        if (i + 1 < o.repeat)
            continue;
        if (response) {
            const std::vector<response_row> rows = response_rows(capture.response, capture.quiet, run.result.latency);
            r.has_response = true;
            r.response = response_summarise(rows, r.rate);
            r.response_valid = run.result.input_peak < clipping_level;
            if (!response_write(o.response_file, rows))
                return failure(r, "cannot write " + o.response_file);
        }
        if (!o.ir_file.empty() && !ir_write(o.ir_file, capture.response, run.result.peak))
            return failure(r, "cannot write " + o.ir_file);
    }
    const run_statistics s = report_statistics(r);
    if (s.max - s.min > repeats_agree_frames) {
        char text[160];
        std::snprintf(text, sizeof text, "unstable: the runs disagree by %.3f frames (from %.3f to %.3f)",
                      s.max - s.min, s.min, s.max);
        return verdict(r, "unstable", 4, text);
    }
    if (o.expect && std::fabs(s.mean - o.expect_frames) > o.expect_tolerance) {
        char text[160];
        std::snprintf(text, sizeof text, "outside the expected %.3f ± %.3f frames", o.expect_frames, o.expect_tolerance);
        verdict(r, "outside expected", 5, text);
    }
}

}  // namespace

void session_run(check_report& r, void (*on_run)(const check_report&, size_t))
{
    if (audio_initialize("loopcheck") != paNoError) {
        Pa_Terminate();
        return failure(r, "PortAudio could not start");
    }
    const bool response = !r.options.response_file.empty();
    PaStream* stream = nullptr;
    const std::string problem = stream_open(r, stream);
    if (!problem.empty()) {
        Pa_Terminate();
        return failure(r, problem);
    }
    const double amplitude = std::pow(10.0, r.options.level_dbfs / 20.0);
    const std::vector<float> sweep = sweep_make(sweep_frames(r.rate, false), r.rate, amplitude);
    const std::vector<float> long_sweep = sweep_make(sweep_frames(r.rate, true), r.rate, amplitude);
    // Room for the longest run twice over, its lead and its tail included.
    const int64_t longest = std::lrint((r.options.max_delay_s + r.options.settle_s + 1.0) * r.rate) +
                            static_cast<int64_t>(long_sweep.size()) + certain_tail(r.rate, true);
    stream_prepare(sweep, long_sweep, 2 * longest);
    // JACK's clock is the server's frame counter: a missed cycle shows in it exactly.
    const PaHostApiInfo* host = Pa_GetHostApiInfo(Pa_GetDeviceInfo(r.out_device)->hostApi);
    stream_clock_rate = host && host->type == paJACK ? r.rate : 0.0;
    const PaError started = Pa_StartStream(stream);
    if (started != paNoError) {
        Pa_CloseStream(stream);
        Pa_Terminate();
        return failure(r, std::string("PortAudio cannot start the stream: ") + Pa_GetErrorText(started));
    }
    const PaStreamInfo* info = Pa_GetStreamInfo(stream);
    if (info) {
        r.input_latency_frames = info->inputLatency * r.rate;
        r.output_latency_frames = info->outputLatency * r.rate;
        if (std::fabs(info->sampleRate - r.rate) > 0.5) {
            Pa_CloseStream(stream);
            Pa_Terminate();
            return failure(r, "rate " + std::to_string(std::lrint(r.rate)) + " Hz not granted: the stream runs at " +
                                  std::to_string(std::lrint(info->sampleRate)) + " Hz");
        }
    }
    runs_measure(r, response, on_run);
    r.buffer_granted = stream_largest_buffer.load();
    r.input_is_monitor = device_inputs_are_monitor(r.in_device);
    Pa_StopStream(stream);
    Pa_CloseStream(stream);
    Pa_Terminate();
}
