// The one capture routine, and the sweep's capture on it.
#include "loopcheck/io/capture.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// What the log's marks and the capture's end say spoiled it.
std::string spoiled_by(bool stalled, bool overrun, const stream_marks& marks)
{
    if (stalled)
        return "the stream stopped delivering frames";
    if (overrun)
        return "the analysis fell behind the capture";
    if (marks.lost)
        return "more under- and overflows than could be counted";
    if (marks.missed > 0)
        return "the callback missed " +
               std::string(marks.missed > 1 ? std::to_string(marks.missed) + " cycles" : "a cycle") +
               " (a JACK server skips a late client)";
    if (marks.flagged > 0) {
        std::string what;
        for (const auto& [flag, name] :
             {std::pair{xrun_input_overflow, "input overflow"}, std::pair{xrun_input_underflow, "input underflow"},
              std::pair{xrun_output_underflow, "output underflow"}, std::pair{xrun_output_overflow, "output overflow"}})
            if (marks.flags & flag)
                what += std::string(what.empty() ? "" : ", ") + name;
        return what + " reported by the host (" + std::to_string(marks.flagged) + " call" +
               (marks.flagged > 1 ? "s" : "") + ")";
    }
    return "";
}

}  // namespace

capture_got stream_capture(stream& s, const capture_take& t, const capture_wait& wait)
{
    capture_got got;
    const size_t loops = t.loops.size();
    const auto from = [&t](size_t k) { return k < t.from.size() ? t.from[k] : 0; };
    int64_t latest = 0;  // the last loop's first frame, from start
    for (size_t k = 0; k < loops; k++)
        latest = std::max(latest, from(k));
    got.start = t.start >= 0 ? t.start
                             : std::max(stream_frames_done(s) + std::max(t.lead, t.quiet), stream_ahead_of_callback(s));
    if (t.clip >= 0)
        stream_schedule(s, got.start, t.clip);
    got.capture.resize(loops);
    const int64_t most = t.most > 0 ? t.most : t.frames;
    int64_t have = 0;
    for (int64_t wanted = t.frames; wanted > have;) {
        if (!wait(got.start + latest + wanted)) {
            got.stalled = true;
            break;
        }
        have = std::min(most, stream_frames_done(s) - got.start - latest);
        for (size_t k = 0; k < loops && !got.overrun; k++) {
            const int64_t first = got.start + from(k);
            if (!stream_capture_copy(s, first, first + have, t.loops[k], got.capture[k]))
                got.overrun = true, got.capture[k].clear();
        }
        if (got.overrun)
            break;
        wanted = t.more ? t.more(got) : have;
    }
    // The quiet frames before the start, where the stream has them.
    const int64_t quiet = std::min(t.quiet, got.start);
    got.quiet.resize(loops);
    for (size_t k = 0; k < loops && quiet > 0; k++)
        if (!stream_capture_copy(s, got.start - quiet, got.start, t.loops[k], got.quiet[k]))
            got.quiet[k].clear();
    // Every frame analysed: the quiet ones, the clip's answer and the tail
    // after it. A flag in any of them spoils the capture.
    int64_t end = got.start;
    for (size_t k = 0; k < loops; k++)
        end = std::max(end, got.start + from(k) + static_cast<int64_t>(got.capture[k].size()));
    got.marks = stream_marks_within(s, got.start - quiet, end);
    return got;
}

std::string capture_spoiled_by(const capture_got& got) { return spoiled_by(got.stalled, got.overrun, got.marks); }

int64_t capture_quiet_frames(double rate) { return std::lrint(4096.0 * rate / 48000.0); }

int64_t capture_tail(double rate, bool response) { return std::lrint((response ? 0.4 : 0.125) * rate); }

run_capture capture_run(stream& s, const capture_plan& plan, const capture_wait& wait)
{
    run_capture run;
    const int64_t sweep = static_cast<int64_t>(plan.sweep.size());
    const int64_t longest = plan.last_lag + sweep + plan.tail;
    capture_take take;
    take.clip = plan.clip;
    take.lead = std::max(plan.lead, plan.quiet);
    take.quiet = plan.quiet;
    take.loops = {plan.loop};
    take.frames = sweep + std::min<int64_t>(plan.tail, plan.last_lag + 1);
    take.most = longest;
    // The answer analysed as it grows: until it is certain, or every lag looked for has been searched.
    take.more = [&](const capture_got& got) -> int64_t {
        const std::vector<float>& capture = got.capture[0];
        const int64_t have = static_cast<int64_t>(capture.size());
        run.response = deconvolve(plan.sweep, capture, plan.rate);
        run.result = analyse_peak(run.response, have - sweep);
        if (run.result.loop && (run.result.peak > plan.last_lag || have >= run.result.peak + sweep + plan.tail))
            return 0;
        if (have >= longest)
            return 0;
        // Where the answer would be certain if this peak stands; else half as much again.
        return run.result.loop ? run.result.peak + sweep + plan.tail
                               : std::min(longest, have + std::max(sweep / 2, have / 2));
    };
    capture_got got = stream_capture(s, take, wait);
    run.start = got.start, run.clip = plan.clip;
    run.stalled = got.stalled, run.overrun = got.overrun;
    run.capture = std::move(got.capture[0]);
    run.quiet = std::move(got.quiet[0]);
    run.marks = got.marks;
    if (!run.capture.empty() && run.response.n > 0)
        run.result =
            analyse_run(run.response, plan.sweep, run.capture, static_cast<int64_t>(run.capture.size()) - sweep);
    run.beyond = run.result.loop && run.result.peak > plan.last_lag;
    return run;
}

std::string capture_spoiled_by(const run_capture& run)
{
    const std::string spoiled = spoiled_by(run.stalled, run.overrun, run.marks);
    if (!spoiled.empty())
        return spoiled;
    // A loop beyond the lags asked for is reported as that: its answer is
    // not the measurement, and its capture may end before the answer does.
    if (run.beyond)
        return "";
    if (run.result.loop && run.result.gaps > 0)
        return std::to_string(run.result.gaps) + " stretch" + (run.result.gaps > 1 ? "es" : "") +
               " of digital silence in the capture";
    if (run.result.loop && run.result.slip_frames != 0)
        return "the delay moved by " + std::to_string(run.result.slip_frames) +
               " frames during the sweep's answer (frames dropped or repeated without a flag)";
    return "";
}
