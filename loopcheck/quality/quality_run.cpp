// The battery through the stream: clips, play, capture, analysis, limits.
#include "loopcheck/quality/quality.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "analysis/deconvolve.hpp"
#include "analysis/distortion.hpp"
#include "analysis/response.hpp"
#include "analysis/response_points.hpp"
#include "analysis/sweep.hpp"
#include "analysis/weighting.hpp"
#include "loopcheck/io/stream_wait.hpp"

namespace {

int64_t segment_frames(const quality_plan& p)
{
    int64_t frames = 0;
    for (const quality_segment& seg : p.segments)
        frames = std::max(frames, quality_plan_segment_frames(seg));
    return frames;
}

bool stop(const std::atomic<bool>* interrupted) { return interrupted && interrupted->load(); }

void unstable(mode_end& end, const std::string& what, const std::string& why)
{
    end.failure = check_status::unstable, end.reason = stream_retry_given_up(what, why);
}

// The stream's end of a wait that failed: interrupted, or stalled.
void wait_failed(mode_end& end, const std::atomic<bool>* interrupted)
{
    if (stop(interrupted))
        end.failure = check_status::interrupted, end.reason = "interrupted";
    else
        end.failure = check_status::unstable,
        end.reason = "unstable: the stream stopped delivering frames during --quality";
}

// --- the response ---------------------------------------------------------

quality_response response_of(std::span<const float> sweep, std::span<const float> capture, std::span<const float> quiet,
                             double latency, double rate)
{
    quality_response q;
    q.sweep_frames = static_cast<int64_t>(sweep.size());
    float peak = 0.0f;
    for (const float v : capture)
        peak = std::max(peak, std::fabs(v));
    q.received_peak_dbfs = peak > 0.0f ? 20.0 * std::log10(static_cast<double>(peak)) : tones_floor_dbfs;
    const std::vector<response_row> rows = response_rows(deconvolve(sweep, capture, rate), quiet, latency);
    const response_summary sum = response_summarise(rows, rate);
    if (sum.minus3_low_hz >= 0.0)
        q.minus3_low_hz = sum.minus3_low_hz;
    if (sum.minus3_high_hz >= 0.0)
        q.minus3_high_hz = sum.minus3_high_hz;
    if (peak >= quality_clip_level) {
        q.reason = "clipped: a capture sample within 0.1 dB of full scale";
        return q;
    }
    for (const response_row& row : rows)
        if (row.hz >= weighting_band_low_hz && row.hz <= weighting_band_high_hz) {
            q.min_db = std::min(q.min_db.value_or(row.level_db), row.level_db);
            q.max_db = std::max(q.max_db.value_or(row.level_db), row.level_db);
        }
    if (!q.min_db)
        q.reason = "no response row within the band";
    else
        q.points = response_points(rows, weighting_band_low_hz, std::min(weighting_band_high_hz, rate / 2.0));
    return q;
}

// A sweep on every loop at once, found on the first loop's capture (it
// waits for that loop's answer and its tail), the other loops' copied from
// the same frames.
bool measure_responses(battery_outcome& out, stream& s, const quality_clips& c, const capture_wait& wait,
                       const std::atomic<bool>* interrupted)
{
    quality_outcome& q = out.quality;
    const double rate = q.plan.rate;
    capture_plan plan;
    plan.rate = rate;
    plan.last_lag = *std::max_element(q.shifts.begin(), q.shifts.end()) + std::lrint(0.1 * rate);
    plan.lead = std::lrint(0.02 * rate);
    plan.quiet = capture_quiet_frames(rate);
    plan.tail = capture_tail(rate, true);
    plan.clip = c.short_sweep;
    plan.sweep = c.short_samples;
    run_capture run;
    for (int attempt = 1;;) {
        run = capture_run(s, plan, wait);
        if (stop(interrupted))
            return wait_failed(out.end, interrupted), false;
        const std::string spoiled = capture_spoiled_by(run);
        const stream_retry next = stream_retry_after(attempt, spoiled);
        if (next == stream_retry::give_up)
            return unstable(out.end, "the response's sweep", spoiled), false;
        if (next == stream_retry::again) {
            q.replayed.push_back("the response's sweep: " + spoiled);
            attempt++;
            continue;
        }
        // Weak: not an attempt; the long sweep brings 12 dB more.
        if (plan.clip == c.short_sweep && (!run.result.loop || run.result.snr_db < capture_lengthen_below_db)) {
            plan.clip = c.long_sweep, plan.sweep = c.long_samples;
            continue;
        }
        break;
    }
    const int64_t from = run.start - static_cast<int64_t>(run.quiet.size());
    const int64_t to = run.start + static_cast<int64_t>(run.capture.size());
    std::vector<float> capture, quiet;
    for (size_t k = 0; k < q.shifts.size(); k++) {
        if (k > 0 && (!stream_capture_copy(s, run.start, to, static_cast<int>(k), capture) ||
                      !stream_capture_copy(s, from, run.start, static_cast<int>(k), quiet))) {
            out.end.failure = check_status::unstable, out.end.reason = "unstable: the analysis fell behind the capture";
            return false;
        }
        q.responses.push_back(response_of(plan.sweep, k == 0 ? run.capture : capture, k == 0 ? run.quiet : quiet,
                                          q.latency_frames[k], rate));
    }
    return true;
}

// --- the battery ------------------------------------------------------------

// Every loop's capture of the segment that starts at frame start (clip: the
// clip to schedule there, or -1 for the battery already playing), once it is
// all in: each loop's from its latency on, the settling and the analysed block.
capture_got capture_segment(stream& s, const quality_outcome& q, const quality_segment& seg, int clip, int64_t start,
                            const capture_wait& wait)
{
    capture_take take;
    take.clip = clip, take.start = start;
    take.loops.clear();
    for (size_t k = 0; k < q.shifts.size(); k++)
        take.loops.push_back(static_cast<int>(k));
    take.from = q.shifts;
    take.frames = seg.settle_frames + seg.analysed_frames;
    return stream_capture(s, take, wait);
}

std::string segment_name(const quality_segment& seg)
{
    std::string name = quality_plan_kind_name(seg.kind);
    if (seg.kind == quality_kind::tone) {
        char level[32];
        std::snprintf(level, sizeof level, " at %g dBFS", seg.level_dbfs);
        name += level;
    }
    if (seg.kind == quality_kind::crosstalk_aes17)
        name += ", loop " + std::to_string(seg.driven + 1) + " driven";
    return name;
}

// The segment's stimuli into an interleaved clip at frame first: one for
// every loop where they all play the same, each loop's own otherwise.
void place_segment(std::span<float> clip, const quality_plan& p, const quality_segment& seg, int64_t first)
{
    if (seg.loop_tones.empty()) {
        stream_clip_place(clip, p.loops, first, quality_plan_stimulus(p, seg, 0), -1);
        return;
    }
    for (int loop = 0; loop < p.loops; loop++)
        stream_clip_place(clip, p.loops, first, quality_plan_stimulus(p, seg, loop), loop);
}

// A spoiled segment again, on its own, from the replay clip.
bool replay_segment(battery_outcome& out, stream& s, const quality_clips& c, size_t i, const capture_wait& wait,
                    const std::atomic<bool>* interrupted, std::vector<std::vector<float>>& captures)
{
    quality_outcome& q = out.quality;
    const double rate = q.plan.rate;
    const quality_segment& seg = q.plan.segments[i];
    const std::span<float> room = stream_clip_room(s, c.replay);
    for (int attempt = 2;; attempt++) {
        // The callback reads no sample of this clip now: the battery is
        // scheduled, or an earlier replay that has played out.
        std::fill(room.begin(), room.end(), 0.0f);
        place_segment(room, q.plan, seg, 0);
        capture_got got = capture_segment(s, q, seg, c.replay, -1, wait);
        q.play_seconds += static_cast<double>(quality_plan_segment_frames(seg)) / rate;
        if (got.stalled)
            return wait_failed(out.end, interrupted), false;
        // Past its last frame before the room is filled again.
        if (!wait(got.start + quality_plan_segment_frames(seg)))
            return wait_failed(out.end, interrupted), false;
        const std::string spoiled = capture_spoiled_by(got);
        captures = std::move(got.capture);
        const stream_retry next = stream_retry_after(attempt, spoiled);
        if (next == stream_retry::keep)
            return true;
        if (next == stream_retry::give_up)
            return unstable(out.end, "the " + segment_name(seg) + " segment", spoiled), false;
        q.replayed.push_back(segment_name(seg) + ": " + spoiled);
    }
}

bool play_battery(battery_outcome& out, stream& s, const quality_clips& c, const capture_wait& wait,
                  const std::atomic<bool>* interrupted, std::vector<std::vector<std::vector<float>>>& captures)
{
    quality_outcome& q = out.quality;
    const double rate = q.plan.rate;
    const int64_t start = stream_ahead_of_callback(s);
    stream_schedule(s, start, c.battery);
    q.play_seconds += static_cast<double>(quality_plan_frames(q.plan)) / rate;
    captures.resize(q.plan.segments.size());
    std::vector<size_t> spoiled;
    for (size_t i = 0; i < q.plan.segments.size(); i++) {
        const quality_segment& seg = q.plan.segments[i];
        capture_got got = capture_segment(s, q, seg, -1, start + seg.start, wait);
        if (got.stalled)
            return wait_failed(out.end, interrupted), false;
        const std::string why = capture_spoiled_by(got);
        captures[i] = std::move(got.capture);
        if (!why.empty())
            spoiled.push_back(i), q.replayed.push_back(segment_name(seg) + ": " + why);
    }
    if (!wait(start + quality_plan_frames(q.plan)))
        return wait_failed(out.end, interrupted), false;
    for (const size_t i : spoiled)
        if (!replay_segment(out, s, c, i, wait, interrupted, captures[i]))
            return false;
    return true;
}

// --- the figures ------------------------------------------------------------

// Each figure against --limits: the verdict reads which failed.
void limits_compare(quality_outcome& q, std::span<const quality_limit> limits)
{
    if (limits.empty())
        return;
    std::vector<quality_figure_set> sets;
    for (size_t k = 0; k < q.loops.size(); k++)
        sets.push_back(quality_outcome_figures(q, k));
    q.verdicts = quality_limits_judge(limits, sets);
    q.judged = true;
}

}  // namespace

quality_clips quality_run_clips(stream& s, const quality_plan& p)
{
    quality_clips c;
    std::vector<float> battery(static_cast<size_t>(quality_plan_frames(p) * p.loops), 0.0f);
    for (const quality_segment& seg : p.segments)
        place_segment(battery, p, seg, seg.start);
    c.battery = stream_clip_add(s, std::move(battery));
    c.replay = stream_clip_add(s, std::vector<float>(static_cast<size_t>(segment_frames(p) * p.loops), 0.0f));
    c.short_samples = sweep_make(sweep_frames(p.rate, false), p.rate, tones_amplitude(quality_sweep_dbfs));
    c.short_sweep = stream_clip_add(s, stream_clip_loops(c.short_samples, p.loops));
    c.long_samples = sweep_make(sweep_frames(p.rate, true), p.rate, tones_amplitude(quality_sweep_dbfs));
    c.long_sweep = stream_clip_add(s, stream_clip_loops(c.long_samples, p.loops));
    return c;
}

int64_t quality_run_ring_frames(const quality_plan& p, int64_t latency)
{
    // A segment and its latency, and a second of the main thread's lag behind the callback.
    return segment_frames(p) + latency + std::lrint(p.rate);
}

battery_outcome quality_run_measure(stream& s, const battery_plan& p, std::span<const double> latency_frames,
                                    const capture_wait& wait, const std::atomic<bool>* interrupted)
{
    battery_outcome out;
    out.plan = p;
    const quality_clips& c = p.clips;
    quality_outcome& q = out.quality;
    out.end.ran = true;
    q.plan = p.plan;
    q.latency_frames.assign(latency_frames.begin(), latency_frames.end());
    for (const double latency : q.latency_frames)
        q.shifts.push_back(std::lrint(latency));
    if (!measure_responses(out, s, c, wait, interrupted))
        return out;
    std::vector<std::vector<std::vector<float>>> captures;
    if (!play_battery(out, s, c, wait, interrupted, captures))
        return out;
    std::vector<quality_segment_captures> spans(captures.size());
    for (size_t i = 0; i < captures.size(); i++)
        for (const std::vector<float>& x : captures[i])
            spans[i].push_back(x);
    q.loops = quality_analyse(q.plan, spans);
    quality_outcome_match_delay(q);
    quality_outcome_crosstalk(q, captures);
    q.spectra = quality_spectra_take(q.plan, captures);
    q.ran = true;
    if (const clock_rate clock = stream_clock_rate(s); clock.error.empty())
        q.clock_rate_ppm = clock.ppm;
    limits_compare(q, p.limits.items);
    return out;
}
