// The detector's state made, fed and summarised.
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "analysis/monitor_steps.hpp"

namespace {

int64_t pow2_at_least(double frames)
{
    int64_t n = 1;
    while (static_cast<double>(n) < frames)
        n *= 2;
    return n;
}

void process(monitor_detector& d, std::vector<monitor_event>& out)
{
    for (;;) {
        bool progressed = false;
        switch (d.state) {
        case monitor_state::find: progressed = monitor_step_find(d); break;
        case monitor_state::search: progressed = monitor_step_search(d, out); break;
        default: progressed = monitor_step_chunk(d, out); break;
        }
        if (!progressed)
            return;
    }
}

}  // namespace

int64_t monitor_seconds(const monitor_detector& d, double s) { return static_cast<int64_t>(std::llround(s * d.rate)); }

std::string monitor_loop_unusable(const monitor_loop& loop)
{
    if (!(loop.latency >= 0.0 && loop.latency <= monitor_latency_most))
        return "the latency must lie within 0 .. 1e7 frames";
    if (!(std::fabs(loop.gain) >= monitor_gain_least && std::fabs(loop.gain) <= monitor_gain_most))
        return "the loop's gain must lie within -80 dB .. +40 dB";
    return "";
}

monitor_detector monitor_detector_make(const monitor_stimulus& s, const monitor_loop& loop, size_t event_cap)
{
    const std::string unusable = monitor_loop_unusable(loop);
    if (!unusable.empty())
        throw std::invalid_argument("monitor: " + unusable);
    if (s.tones.empty())
        throw std::invalid_argument("monitor: a stimulus without tones");
    monitor_detector d;
    d.rate = s.rate;
    d.latency = loop.latency;
    const size_t tones = s.tones.size();
    d.model.tones = s.tones;
    d.model.gain_re.assign(tones, 0.0);
    d.model.gain_im.assign(tones, 0.0);
    for (size_t k = 0; k < tones; k++)
        d.model.gain_re[k] = loop.gain * s.tones[k].amplitude;
    d.start = loop.first_played + static_cast<int64_t>(std::ceil(loop.latency)) + monitor_seconds(d, settle_seconds);
    d.model.anchor = d.start;
    d.model.delay = loop.latency;
    d.trial = d.model;
    // About 5 ms chunks for the loops, 21 ms windows for the alignment (256
    // and 1024 frames at 48 kHz, whatever the rate the same in time).
    d.chunk = pow2_at_least(s.rate / 200.0);
    d.window = 4 * d.chunk;
    d.reach = monitor_seconds(d, search_reach_seconds);
    const int64_t epoch = std::llround(epoch_seconds * s.rate / static_cast<double>(d.chunk));
    d.drift = monitor_drift_make(epoch);
    d.rate_watch = monitor_rate_make(static_cast<int>(epoch));
    d.ring.assign(static_cast<size_t>(pow2_at_least(0.6 * s.rate)), 0.0f);
    d.frames.assign(d.ring.size(), 0.0f);
    d.piece.assign(static_cast<size_t>(d.chunk), 0.0f);
    for (auto* v : {&d.residue, &d.derivative, &d.limits, &d.signal})
        v->assign(static_cast<size_t>(d.window), 0.0);
    for (auto* v : {&d.sum_d0, &d.sum_d1, &d.sum_d2, &d.sum_r0, &d.sum_r1})
        v->assign(static_cast<size_t>(d.window + 1), 0.0);
    for (auto* v : {&d.unit_re, &d.unit_im, &d.turn_re, &d.turn_im, &d.acc_re, &d.acc_im, &d.rho_re, &d.rho_im,
                    &d.weight, &d.cube_re, &d.cube_im, &d.square_re, &d.square_im, &d.acc2_re, &d.acc2_im})
        v->assign(tones, 0.0);
    d.window_weights.assign(static_cast<size_t>(d.window), 0.0);
    d.previous = d.model;
    // A stretch between disturbances: up to the ring's length (a zeros' edges beside it).
    d.stretch_frames.assign(d.ring.size(), 0.0f);
    d.stretch_window.assign(static_cast<size_t>(d.window), 1.0);
    d.stretch_residue.assign(d.ring.size(), 0.0);
    d.stretch_limits.assign(d.ring.size(), 0.0);
    d.stretch_after.assign(d.ring.size(), 0.0);
    d.stretch_after_limits.assign(d.ring.size(), 0.0);
    monitor_align_window(d.window_weights);
    d.histogram.assign(histogram_bins, 0);
    const size_t learn_chunks = static_cast<size_t>(monitor_seconds(d, learn_seconds) / d.chunk + 2);
    d.learn_peak.assign(learn_chunks, 0.0);
    d.learn_sorted.assign(learn_chunks, 0.0);
    d.learn_peak_at.assign(learn_chunks, 0);
    d.reference_re = d.model.gain_re;
    d.reference_im = d.model.gain_im;
    d.reference_gain = loop.gain;
    d.event_cap = event_cap;
    d.events.reserve(event_cap);
    return d;
}

void monitor_feed(monitor_detector& d, std::span<const float> block, int64_t first_frame, bool xrun,
                  std::vector<monitor_event>& events)
{
    if (!d.fed_any) {
        d.fed_end = d.valid_from = first_frame;
        d.fed_any = true;
    }
    if (first_frame > d.fed_end) {
        // Frames the caller never had: skipped, and the alignment looked for afresh after them.
        d.summary.frames_skipped += first_frame - d.fed_end;
        // A search the gap cuts short: what it had not checked stays so; so
        // do the frames tracking had not yet reached.
        const bool lost = d.state == monitor_state::search && d.lost_reported;
        if (d.state == monitor_state::search) {
            d.summary.frames_unchecked += std::max<int64_t>(0, d.fed_end - d.trigger);
            if (lost)
                d.summary.frames_lost += std::max<int64_t>(0, d.fed_end - d.trigger);
        } else if (d.state == monitor_state::track) {
            d.summary.frames_unchecked += std::max<int64_t>(0, d.fed_end - d.next);
        }
        const int64_t lost_earlier = d.lost_earlier + first_frame - d.trigger;
        d.fed_end = d.valid_from = first_frame;
        if (d.state == monitor_state::track || d.state == monitor_state::search) {
            // The alignment looked for from the gap on, silently: the ring
            // holds nothing before it, so no stretch before it is explained
            // (one from a trigger before the gap ran past the ring's end: a
            // search an overrun cut short read beyond the detector's buffers).
            // A stimulus lost before the gap stays lost until it is found.
            monitor_begin_search(d, first_frame, !lost);
            if (lost) {
                d.lost_reported = true;
                d.lost_earlier = lost_earlier;
            }
        } else if (d.state != monitor_state::find) {
            d.state = monitor_state::find;
            d.start = first_frame;
        }
    }
    // Frames already fed are not fed twice.
    const int64_t overlap = std::min<int64_t>(static_cast<int64_t>(block.size()), d.fed_end - first_frame);
    block = block.subspan(static_cast<size_t>(std::max<int64_t>(0, overlap)));
    if (xrun)
        monitor_note_xrun(d, first_frame, first_frame + static_cast<int64_t>(block.size()));
    // A quarter of the ring at a time, so that a long block never overwrites
    // frames the search still reads.
    const size_t piece = d.ring.size() / 4;
    while (!block.empty()) {
        const size_t n = std::min(piece, block.size());
        for (size_t i = 0; i < n; i++)
            d.ring[static_cast<size_t>(d.fed_end + static_cast<int64_t>(i)) & (d.ring.size() - 1)] = block[i];
        d.fed_end += static_cast<int64_t>(n);
        block = block.subspan(n);
        process(d, events);
    }
}

monitor_summary monitor_summarise(const monitor_detector& d)
{
    monitor_summary s = d.summary;
    const monitor_drift_figure drift = monitor_drift_estimate(d.drift);
    s.drift_ppm = drift.ppm;
    s.drift_ppm_uncertainty = drift.sigma_ppm;
    s.drift_ppm_interval = drift.interval_ppm;
    s.drift_batch_frames = std::llrint(drift.batch_frames);
    s.drift_correlation_s = drift.correlation_frames / d.rate;
    s.drift_wander_slow = drift.wander_slow;
    s.drift_from = d.start + std::llrint(drift.from_t);
    s.drift_to = d.start + std::llrint(drift.to_t);
    s.locked = d.state == monitor_state::track;
    // The delay where the stimulus was last followed: at the end, or where a search began.
    const int64_t followed_to = d.state == monitor_state::search ? d.trigger : d.next;
    const monitor_model& last = d.state == monitor_state::search ? d.previous : d.model;
    s.delay_end_frames = monitor_model_delay_at(last, followed_to);
    s.delay_end_at = followed_to;
    if (d.state == monitor_state::track && d.next - d.clean_start > s.longest_clean_frames) {
        s.longest_clean_frames = d.next - d.clean_start;
        s.longest_clean_from = d.clean_start;
    }
    // A search still going at the end (a lost tail above all): its frames were not checked.
    if (d.state == monitor_state::search) {
        s.frames_unchecked += std::max<int64_t>(0, d.fed_end - d.trigger);
        if (d.lost_reported)
            s.frames_lost += std::max<int64_t>(0, d.fed_end - d.trigger);
    }
    return s;
}

std::span<const monitor_event> monitor_events(const monitor_detector& d) { return d.events; }
