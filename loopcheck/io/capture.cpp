// One run: schedule, capture, analyse as the capture grows.
#include "loopcheck/io/capture.hpp"

#include <algorithm>
#include <cmath>

#include "loopcheck/io/stream_wait.hpp"

int64_t capture_tail(double rate, bool response) { return std::lrint((response ? 0.4 : 0.125) * rate); }

run_capture capture_run(stream_state& s, const capture_plan& plan, const capture_wait& wait)
{
    run_capture run;
    const int64_t sweep = static_cast<int64_t>(plan.sweep.size());
    const int64_t now = s.frames_done.load(std::memory_order_acquire);
    const int64_t start = std::max(now + std::max(plan.lead, plan.quiet), stream_ahead_of_callback(s, plan.rate));
    run.start = start, run.clip = plan.clip;
    stream_schedule(s, start, plan.clip);

    const int64_t longest = plan.last_lag + sweep + plan.tail;
    int64_t wanted = sweep + std::min<int64_t>(plan.tail, plan.last_lag + 1);
    for (;;) {
        if (!wait(start + wanted)) {
            run.stalled = true;
            break;
        }
        const int64_t have = std::min(longest, s.frames_done.load(std::memory_order_acquire) - start);
        if (!stream_capture_copy(s, start, start + have, plan.loop, run.capture)) {
            run.overrun = true;
            break;
        }
        run.response = deconvolve(plan.sweep, run.capture, plan.rate);
        run.result = analyse_peak(run.response, have - sweep);
        if (run.result.loop && (run.result.peak > plan.last_lag || have >= run.result.peak + sweep + plan.tail))
            break;
        if (have >= longest)
            break;
        // Where the answer would be certain if this peak stands; else half as much again.
        wanted = run.result.loop ? run.result.peak + sweep + plan.tail
                                 : std::min(longest, have + std::max(sweep / 2, have / 2));
    }
    if (!run.capture.empty() && run.response.n > 0)
        run.result =
            analyse_run(run.response, plan.sweep, run.capture, static_cast<int64_t>(run.capture.size()) - sweep);
    run.beyond = run.result.loop && run.result.peak > plan.last_lag;
    const int64_t quiet = std::min(plan.quiet, start);
    if (!stream_capture_copy(s, start - quiet, start, plan.loop, run.quiet))
        run.quiet.clear();
    // Every frame analysed: the quiet frames of the noise, the sweep's answer
    // and the tail after it. A flag in any of them spoils the run.
    run.marks = stream_marks_within(s, start - quiet, start + static_cast<int64_t>(run.capture.size()));
    return run;
}

std::string capture_spoiled_by(const run_capture& run)
{
    if (run.stalled)
        return "the stream stopped delivering frames";
    if (run.overrun)
        return "the analysis fell behind the capture";
    if (run.marks.lost)
        return "more under- and overflows than could be counted";
    if (run.marks.missed > 0)
        return "the callback missed " +
               std::string(run.marks.missed > 1 ? std::to_string(run.marks.missed) + " cycles" : "a cycle") +
               " (a JACK server skips a late client)";
    if (run.marks.flagged > 0) {
        std::string what;
        for (const auto& [flag, name] :
             {std::pair{paInputOverflow, "input overflow"}, std::pair{paInputUnderflow, "input underflow"},
              std::pair{paOutputUnderflow, "output underflow"}, std::pair{paOutputOverflow, "output overflow"}})
            if (run.marks.flags & flag)
                what += std::string(what.empty() ? "" : ", ") + name;
        return what + " reported by the host (" + std::to_string(run.marks.flagged) + " call" +
               (run.marks.flagged > 1 ? "s" : "") + ")";
    }
    if (run.result.loop && run.result.gaps > 0)
        return std::to_string(run.result.gaps) + " stretch" + (run.result.gaps > 1 ? "es" : "") +
               " of digital silence in the capture";
    return "";
}
