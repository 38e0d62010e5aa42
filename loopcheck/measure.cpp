// One run: schedule, capture, analyse as the capture grows.
#include "loopcheck/measure.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "loopcheck/stream.hpp"

std::atomic<bool> measure_interrupted{false};

namespace {

constexpr int64_t stall_ms = 1000;  // no frames for this long, or frames at half their rate: a stall

int64_t now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Waits until the callback has handled frame until - 1; false when the stream
// stalls first: no frames for a second, or a trickle (PipeWire's ALSA plugin
// below its quantum hands out a few dozen frames now and then) that takes
// more than twice the frames' own time and a second besides.
bool frames_wait(int64_t until, double rate)
{
    int64_t seen = stream_frames_done.load(std::memory_order_acquire), since = now_ms();
    const int64_t deadline = since + stall_ms + std::lrint(2000.0 * static_cast<double>(until - seen) / rate);
    while (seen < until && !measure_interrupted.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const int64_t now = stream_frames_done.load(std::memory_order_acquire), time = now_ms();
        if (now != seen)
            seen = now, since = time;
        else if (time - since > stall_ms)
            return false;
        if (time > deadline)
            return false;
    }
    return !measure_interrupted.load();
}

}  // namespace

int64_t certain_tail(double rate, bool response)
{
    // The response wants the loop's own tail too: 0.6 s of it.
    return std::lrint((response ? 0.6 : 0.125) * rate);
}

run_capture measure_run(const measure_plan& plan)
{
    run_capture run;
    const std::vector<float>& played = plan.long_sweep ? stream_long_sweep : stream_sweep;
    const int64_t sweep = static_cast<int64_t>(played.size());
    // Ahead of any buffer the callback may be in, whatever the host's buffer.
    const int64_t lead = std::max(plan.lead, 2 * stream_largest_buffer.load() + std::lrint(0.01 * plan.rate));
    const int64_t start = stream_frames_done.load(std::memory_order_acquire) + lead;
    stream_sweep_schedule(start, plan.long_sweep);
    // Flags raised before the sweep (a cable connected during the lead makes
    // JACK report one) do not concern this run.
    bool flags_cleared = false;

    const int64_t longest = plan.last_lag + sweep + plan.tail;
    int64_t wanted = sweep + std::min<int64_t>(plan.tail, plan.last_lag + 1);
    for (;;) {
        if (!flags_cleared && frames_wait(start, plan.rate)) {
            stream_flags_seen.store(0);
            flags_cleared = true;
        }
        if (!frames_wait(start + wanted, plan.rate)) {
            run.stalled = true;
            break;
        }
        const int64_t have = std::min(longest, stream_frames_done.load(std::memory_order_acquire) - start);
        stream_capture_copy(start, start + have, run.capture);
        run.response = deconvolve(played, run.capture, plan.rate);
        run.result = analyse_peak(run.response, have - sweep);
        if (run.result.loop && (run.result.peak > plan.last_lag || have >= run.result.peak + sweep + plan.tail))
            break;
        if (have >= longest)
            break;
        // Where the answer would be certain if this peak stands; else half as much again.
        wanted = run.result.loop ? run.result.peak + sweep + plan.tail : std::min(longest, have + std::max(sweep / 2, have / 2));
    }
    run.result = analyse_run(run.response, run.capture, sweep, static_cast<int64_t>(run.capture.size()) - sweep);
    run.beyond = run.result.loop && run.result.peak > plan.last_lag;
    run.lead_frames = std::min<int64_t>(lead, start);
    stream_capture_copy(start - run.lead_frames, start, run.quiet);
    // A dropout or a missed cycle spoils the loop only between the sweep's
    // start and the end of its answer; in the tail after it, it moves nothing
    // that is measured. (The flags of a call cover its whole buffer.)
    const int64_t answered = run.result.loop ? run.result.peak + sweep : static_cast<int64_t>(run.capture.size());
    const int64_t flagged = stream_flagged_frame.load(), skipped = stream_skipped_frame.load();
    run.flagged = flagged + stream_largest_buffer.load() > start && flagged < start + answered;
    run.flags = stream_flags_seen.load();
    run.skipped = skipped > start && skipped <= start + answered;
    return run;
}

std::string run_spoiled_by(const run_capture& run)
{
    if (run.stalled)
        return "the stream stopped delivering frames";
    if (run.skipped)
        return "the callback missed a cycle (a JACK server skips a late client)";
    if (run.flagged) {
        std::string what;
        if (run.flags & paInputOverflow)
            what += "input overflow";
        if (run.flags & paInputUnderflow)
            what += std::string(what.empty() ? "" : ", ") + "input underflow";
        if (run.flags & paOutputUnderflow)
            what += std::string(what.empty() ? "" : ", ") + "output underflow";
        if (run.flags & paOutputOverflow)
            what += std::string(what.empty() ? "" : ", ") + "output overflow";
        return what + " reported by the host";
    }
    if (run.result.loop && run.result.gaps > 0)
        return std::to_string(run.result.gaps) + " stretch" + (run.result.gaps > 1 ? "es" : "") +
               " of digital silence in the capture";
    return "";
}
