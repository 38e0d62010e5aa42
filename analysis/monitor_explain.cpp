// What happened between the frame where the model before a disturbance
// stopped fitting and the frame from which the model after it fits again:
// the stretch segmented into every run that fits some alignment, each
// boundary between two runs one event, classified.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "analysis/monitor_steps.hpp"

namespace {

// Events one stretch may part into.
constexpr int most_parts = 8;
// A model near the capture within this share of the signal may be only
// off in its delay (0.008 frame at the top tone's peak): its run is then
// held to the threshold after a refit. A shift of a frame leaves more.
constexpr double near_share = 0.05;
// A capture's repeat: its frames looked for this far back (a buffer of up to
// 8192 frames), from frames this far into a stretch.
constexpr int64_t most_repeat = 8192;
constexpr int64_t most_repeat_scan = 2048;
// A common gain this close to 1 is no change of level: 0.09 dB, 0.6 degrees.
constexpr double same_gain = 0.01;
// A change of polarity or level keeps the delay: within this of none.
constexpr double kept_delay = 0.05;
// Around a silence, the converters' filters' and a resampler's settling
// (loopsim's resampler spreads an edge over 64 frames either side, a 127-tap
// anti-aliasing filter over 63).
constexpr int64_t settle_frames = 100;
// The shortest stretch a run is followed over when a chunk does not fit: the refit's four pieces of 4 frames.
constexpr int64_t least_follow = 16;

// Silence at frame: digital zero (frames the host or the driver filled in),
// or the loop's own DC (the output muted before the converters and the
// input's offset, or the DC the model has learnt, still there).
bool explain_quiet(const monitor_detector& d, int64_t frame)
{
    const double y = monitor_ring_at(d, frame), limit = d.summary.threshold;
    return std::fabs(y) <= limit || std::fabs(y - d.model.dc) <= limit;
}

// The residue of model m over [a, b) into d.stretch_residue and the limits
// into d.stretch_limits (b - a at most the ring's length).
void residue_of(monitor_detector& d, const monitor_model& m, int64_t a, int64_t b)
{
    const std::span<const float> y = monitor_ring_copy(d, a, b - a, d.stretch_frames);
    monitor_pass p = monitor_pass_of(d);
    p.limit = d.summary.threshold;
    p.stop = false;
    p.residue = std::span<double>(d.stretch_residue).first(y.size());
    p.limits = std::span<double>(d.stretch_limits).first(y.size());
    monitor_model_run(m, y, a, p);
}

// Within [u, v), where model m comes near the capture: the earliest run of
// at least least frames it fits, followed chunk by chunk as tracking
// follows the clock (the delay refitted where the model alone drifts off:
// extrapolated across a disturbance, under wander, at -140 dBFS, a model
// misses by more than the threshold within milliseconds).
bool strict_run(monitor_detector& d, const monitor_model& m, int64_t u, int64_t v, int64_t least, int64_t& first,
                int64_t& end)
{
    for (int64_t start = u; start + least <= v;) {
        monitor_model model = m;
        monitor_join join;
        int64_t at = start, run_end = v;
        while (at < v) {
            int64_t n = std::min(d.chunk, v - at);
            monitor_followed f = monitor_follow(d, model, at, n, false, join);
            // A chunk that reaches into the next disturbance: its frames
            // spoil the delay's refit of the clean ones before it (a mute
            // through 127 taps at 192 kHz and -140 dBFS, a clock lagging
            // behind 3 ppm of wander: the run cut 345 frames short, the mute
            // read as two discontinuities). The longest half, quarter ...
            // of it that fits, down to the refit's least.
            for (int64_t part = n / 2; !f.fits && part >= least_follow; part /= 2) {
                f = monitor_follow(d, model, at, part, false, join);
                n = part;
            }
            if (!f.fits) {
                run_end = f.over;
                break;
            }
            if (!f.refit)
                monitor_model_move(model, at + n, 0.0, 0.0);
            at += n;
        }
        if (run_end - start >= least) {
            first = start, end = run_end;
            return true;
        }
        start = std::max(run_end, start) + 1;
    }
    return false;
}

// The earliest run of at least least frames within [a, b) that m fits
// (after a local refit of its delay), extended while it fits: [first, end).
// False when none. Where m comes within near_share of the signal first, then
// held to the threshold.
bool first_run(monitor_detector& d, const monitor_model& m, int64_t a, int64_t b, int64_t least, int64_t& first,
               int64_t& end)
{
    if (b - a < least)
        return false;
    residue_of(d, m, a, b);
    const double near = near_share * monitor_model_level(m);
    int64_t from = 0;
    for (int64_t n = 0; n <= b - a; n++) {
        const bool close = n < b - a && std::fabs(d.stretch_residue[static_cast<size_t>(n)]) <=
                                            std::max(near, d.stretch_limits[static_cast<size_t>(n)]);
        if (close)
            continue;
        if (n - from >= least && strict_run(d, m, a + from, a + n, least, first, end))
            return true;
        from = n + 1;
    }
    return false;
}

// The earliest run within [a, b) of an alignment neither end's: the best
// shifts by the tones' phases over the stretch's first chunk, then over its
// first window, each tried on the samples. Both polarities when the two ends
// differ in it.
bool other_run(monitor_detector& d, const monitor_model& x, bool both_signs, int64_t a, int64_t b, int64_t least,
               int64_t& first, int64_t& end, monitor_model& z)
{
    // A silence at the stretch's start holds no run of any alignment: the
    // search starts where it ends. (Over a silence every shift's score is
    // noise, and each of 768 trials was run through it: a 1024-frame
    // underrun cost 50 ms, ten times a slip.)
    while (a < b && explain_quiet(d, a))
        a++;
    // A chunk first, then a window: over a short stretch the earliest
    // alignment's tones stand out of the phases; over a long one, later ones
    // (three or more glitches) may drown it.
    for (const int64_t length : {d.chunk, d.window}) {
        const int64_t frames = std::min(b - a, length);
        if (frames < least)
            return false;
        const std::span<const float> y = monitor_ring_copy(d, a, frames, d.stretch_frames);
        monitor_align_work w = monitor_align_of(d);
        // A plain window: a short stretch needs every frame's weight, and no tone is to be resolved here.
        w.window = std::span<const double>(d.stretch_window).first(static_cast<size_t>(frames));
        const monitor_run_shift run = monitor_align_run(x, y, a, d.reach, d.summary.threshold, least, both_signs, w,
                                                        std::span<double>(d.stretch_residue).first(y.size()));
        if (run.found && std::fabs(run.frames) >= 0.5) {
            first = a + run.run_first, end = a + run.run_end;
            z = d.trial;
            return true;
        }
        if (frames == b - a)
            return false;
    }
    return false;
}

// The capture's common gain against the model, signed: the loop's gain
// through the reference taken when the stimulus was locked on (its size
// from the tones, its sign the loop's), times m's common gain over it.
double loop_gain_of(const monitor_detector& d, const monitor_model& m)
{
    monitor_model reference = m;
    reference.gain_re = d.reference_re;
    reference.gain_im = d.reference_im;
    double re = 0.0, im = 0.0;
    monitor_align_common_gain(reference, m, re, im);
    return d.reference_gain * std::hypot(re, im) * (re < 0.0 ? -1.0 : 1.0);
}

// A silence between two frames of one alignment, read as its true edges: the
// step from the prediction to the silence (0 or the DC) placed where it
// leaves the least squared error, at each end, the filters' ringing either
// side of it weighing alike. True when the silence so placed explains the
// stretch outside the edges' settling.
bool zeros_edges(monitor_detector& d, const monitor_model& x, const monitor_model& z, int64_t a, int64_t b, int64_t low,
                 int64_t high, int64_t& t0, int64_t& t1)
{
    // The longest quiet run within [a, b), its level (0 or the DC).
    int64_t best_first = -1, best_length = 0;
    for (int64_t n = a; n < b;) {
        if (!explain_quiet(d, n)) {
            n++;
            continue;
        }
        int64_t e = n;
        while (e < b && explain_quiet(d, e))
            e++;
        if (e - n > best_length)
            best_first = n, best_length = e - n;
        n = e;
    }
    // A silence of its own: the whole stretch, or a run long enough that
    // no burst's frames near zero by chance make one.
    const int64_t least = monitor_seconds(d, between_least_seconds);
    if (best_length == 0 || (best_length < least && best_length < b - a - 2))
        return false;
    const double level =
        std::fabs(monitor_ring_at(d, best_first + best_length / 2)) <= d.summary.threshold ? 0.0 : d.model.dc;
    const int64_t lo = std::max({monitor_ring_oldest(d), a - settle_frames, low});
    const int64_t hi = std::min({d.fed_end, b + settle_frames, high});
    const int64_t middle = best_first + best_length / 2;
    // The signal before the silence is x's, after it z's (one alignment, but
    // each extrapolated the least way).
    residue_of(d, z, middle, hi);
    std::copy_n(d.stretch_residue.begin(), hi - middle, d.stretch_after.begin());
    std::copy_n(d.stretch_limits.begin(), hi - middle, d.stretch_after_limits.begin());
    residue_of(d, x, lo, middle);
    std::copy_n(d.stretch_after.begin(), hi - middle, d.stretch_residue.begin() + (middle - lo));
    std::copy_n(d.stretch_after_limits.begin(), hi - middle, d.stretch_limits.begin() + (middle - lo));
    // delta(n): the error as signal less the error as silence; t0 minimises
    // its sum before it (from lo), t1 its sum from it (to hi).
    double sum = 0.0, lowest = 0.0;
    t0 = lo;
    for (int64_t n = lo; n < middle; n++) {
        const double r = d.stretch_residue[static_cast<size_t>(n - lo)];
        const double s = monitor_ring_at(d, n) - level;
        sum += r * r - s * s;
        if (sum < lowest)
            lowest = sum, t0 = n + 1;
    }
    sum = lowest = 0.0;
    t1 = hi;
    for (int64_t n = hi - 1; n >= middle; n--) {
        const double r = d.stretch_residue[static_cast<size_t>(n - lo)];
        const double s = monitor_ring_at(d, n) - level;
        sum += r * r - s * s;
        if (sum < lowest)
            lowest = sum, t1 = n;
    }
    // Outside the edges' settling, the frames must be the silence or the signal.
    for (int64_t n = a; n < b; n++) {
        if (std::llabs(n - t0) <= settle_frames || std::llabs(n - t1) <= settle_frames)
            continue;
        const double limit = d.stretch_limits[static_cast<size_t>(n - lo)];
        const bool inside = n >= t0 && n < t1;
        const double error = inside ? monitor_ring_at(d, n) - level : d.stretch_residue[static_cast<size_t>(n - lo)];
        if (std::fabs(error) > limit)
            return false;
    }
    return t1 > t0;
}

// One event: the capture left alignment x at frame a and followed z from b;
// x held from low on, z up to high (a silence's edges are looked for within).
void explain_emit(monitor_detector& d, const monitor_model& x, const monitor_model& z, int64_t a, int64_t b,
                  int64_t low, int64_t high, std::vector<monitor_event>& out)
{
    const double shift = monitor_model_delay_at(x, a) - monitor_model_delay_at(z, a);
    double re = 0.0, im = 0.0;
    monitor_align_common_gain(x, z, re, im);
    const bool level_changed = std::hypot(re - 1.0, im) > same_gain;
    const monitor_slip slip = monitor_slip_of(shift, x.slope);
    monitor_event e;
    e.frame = a;
    e.delay_change = -shift;
    e.level_db = 20.0 * std::log10(std::max(std::hypot(re, im), 1e-12));
    e.frames = std::max<int64_t>(0, b - a);
    int64_t t0 = 0, t1 = 0;
    if (!level_changed && slip.whole && slip.frames != 0) {
        e.kind = slip.frames > 0 ? monitor_kind::dropped : monitor_kind::inserted;
        e.frames = std::llabs(slip.frames);
        e.side = slip.side;
        // Only a whole slip moves the delay the drift is measured against.
        d.jumps += slip.side == monitor_side::capture ? static_cast<double>(slip.frames) * (1.0 - x.slope)
                                                      : static_cast<double>(slip.frames);
    } else if (!level_changed && slip.whole && slip.frames == 0 && zeros_edges(d, x, z, a, b, low, high, t0, t1)) {
        e.kind = monitor_kind::zeros;
        e.frame = t0, e.frames = t1 - t0;
    } else if (level_changed && std::fabs(shift) <= kept_delay &&
               std::fabs(std::atan2(im, re)) > 0.8 * std::numbers::pi) {
        e.kind = monitor_kind::polarity;
    } else if (level_changed && std::fabs(shift) <= kept_delay &&
               std::fabs(std::atan2(im, re)) < 0.2 * std::numbers::pi) {
        e.kind = monitor_kind::level;
    } else {
        e.kind = monitor_kind::discontinuity;
        e.frames = std::max<int64_t>(1, b - a);
    }
    if (e.kind == monitor_kind::polarity || e.kind == monitor_kind::level) {
        e.gain_before = loop_gain_of(d, x);
        e.gain_after = loop_gain_of(d, z);
    }
    monitor_report(d, e, out);
}

// A capture that repeats its own last n frames from frame a, sample for
// sample (a capture's buffer delivered twice): the least such n whose copy
// runs at least least frames, and not of silence; 0 when none. The frames
// so repeated may hold an earlier slip of their own, which is no event again.
// The copy's length to its least-th sounding frame does not depend on n (a
// copy may begin in a silence it copies: silence alone equal to silence is
// no repeat), nor must n be shorter than it: each n is first tried on the
// first sounding frame alone, and compared further only when that frame
// matches. (Compared frame by frame for every n, a silence inside the
// stretch matched itself at every n up to 8192, and a 1024-frame silence
// cost a second: the monitor fell seconds behind the stream.)
int64_t literal_repeat(const monitor_detector& d, int64_t a, int64_t least)
{
    if (a + least > d.fed_end)
        return 0;
    const int64_t most = std::min<int64_t>(a - monitor_ring_oldest(d), most_repeat);
    int64_t length = 0, sounding = 0, first_sound = -1;
    for (const int64_t limit = std::min(d.fed_end - a, most); sounding < least && length < limit; length++)
        if (!explain_quiet(d, a + length)) {
            first_sound = first_sound < 0 ? a + length : first_sound;
            sounding++;
        }
    if (sounding < least)
        return 0;
    const float sound = monitor_ring_at(d, first_sound);
    for (int64_t n = std::max<int64_t>(1, length); n <= most; n++) {
        if (monitor_ring_at(d, first_sound - n) != sound)
            continue;
        int64_t same = 0;
        while (same < length && monitor_ring_at(d, a + same) == monitor_ring_at(d, a + same - n))
            same++;
        if (same == length)
            return n;
    }
    return 0;
}

// The first frame of (from, to] where a literal repeat begins, or -1.
int64_t first_repeat(const monitor_detector& d, int64_t from, int64_t to, int64_t least)
{
    for (int64_t c = from + 1; c <= std::min(to, from + most_repeat_scan); c++)
        if (literal_repeat(d, c, least) > 0)
            return c;
    return -1;
}

// Whether two models are one alignment at frame at: the same delay and gains.
bool same_alignment(const monitor_model& a, const monitor_model& b, int64_t at)
{
    double re = 0.0, im = 0.0;
    monitor_align_common_gain(a, b, re, im);
    return std::fabs(monitor_model_delay_at(a, at) - monitor_model_delay_at(b, at)) < 0.5 &&
           std::hypot(re - 1.0, im) <= same_gain;
}

// The alignments seen so far in a stretch: each from its frame on.
struct seen_alignment {
    int64_t from;
    monitor_model model;
};

const monitor_model& alignment_at(const std::vector<seen_alignment>& seen, int64_t frame)
{
    size_t i = 0;
    while (i + 1 < seen.size() && seen[i + 1].from <= frame)
        i++;
    return seen[i].model;
}

// The earliest run within [a, b) of an alignment: left's again (after a
// disturbance that kept it), right's, or another's. False when none.
bool earliest_run(monitor_detector& d, const monitor_model& left, const monitor_model& right, int64_t a, int64_t b,
                  int64_t& first, int64_t& end, monitor_model& z)
{
    const int64_t least = monitor_seconds(d, between_least_seconds);
    bool found = false;
    first = end = b;
    int64_t f = 0, e = 0;
    if (first_run(d, left, a, b, least, f, e))
        first = f, end = e, z = left, found = true;
    if (first_run(d, right, a, b, least, f, e) && (!found || f < first || (f == first && e > end)))
        first = f, end = e, z = right, found = true;
    // One end's delay with the other's gains: a change of level or polarity
    // beside a slip, the stretch between them either's.
    for (const bool delay_left : {true, false}) {
        monitor_model crossed = delay_left ? right : left;
        const monitor_model& timing = delay_left ? left : right;
        crossed.delay = timing.delay, crossed.slope = timing.slope, crossed.anchor = timing.anchor;
        if (!same_alignment(crossed, left, a) && !same_alignment(crossed, right, a) &&
            first_run(d, crossed, a, b, least, f, e) && (!found || f < first))
            first = f, end = e, z = crossed, found = true;
    }
    double re = 0.0, im = 0.0;
    monitor_align_common_gain(left, right, re, im);
    monitor_model other;
    if (other_run(d, left, re < 0.0, a, b, least, f, e, other) && (!found || f < first))
        first = f, end = e, z = other, found = true;
    return found;
}

}  // namespace

void monitor_explain(monitor_detector& d, const monitor_model& before, const monitor_model& after, int64_t a, int64_t b,
                     std::vector<monitor_event>& out)
{
    // Left to right: from where the alignment on the left stopped fitting,
    // the earliest run of some alignment (or a literal repeat) is the next
    // boundary, one event; then on from that run's end.
    const int64_t least = monitor_seconds(d, between_least_seconds);
    // Only what the ring still holds: the stretch's buffers are the ring's length.
    a = std::max(a, monitor_ring_oldest(d));
    std::vector<seen_alignment> seen{{std::numeric_limits<int64_t>::min(), before}};
    monitor_model left = before;
    constexpr int64_t unbounded = std::numeric_limits<int64_t>::max();
    int64_t pos = a, left_from = -unbounded;  // where the alignment on the left began
    for (int parts = 0; pos < b && parts < most_parts; parts++) {
        if (const int64_t n = literal_repeat(d, pos, least); n > 0) {
            // The capture's last n frames again: an insert at the capture. The
            // copy shows what the n frames before showed, n later; after it
            // the capture goes on n frames behind where it was.
            int64_t copy_end = pos;
            while (copy_end < std::min(pos + n, d.fed_end) &&
                   monitor_ring_at(d, copy_end) == monitor_ring_at(d, copy_end - n))
                copy_end++;
            monitor_event e;
            e.frame = pos, e.kind = monitor_kind::inserted, e.frames = n;
            e.delay_change = static_cast<double>(n) * (1.0 - left.slope);
            e.side = std::fabs(static_cast<double>(n) * left.slope) >= monitor_side_resolution ? monitor_side::capture
                                                                                               : monitor_side::none;
            d.jumps -= e.delay_change;
            monitor_report(d, e, out);
            monitor_model next = copy_end == pos + n ? left : alignment_at(seen, copy_end - 1 - n);
            monitor_model_move(next, pos, static_cast<double>(n) * (1.0 - left.slope), 0.0);
            seen.push_back({pos, next});
            left = next;
            left_from = pos;
            pos = copy_end;
            continue;
        }
        int64_t first = b, end = b;
        monitor_model z;
        bool found = earliest_run(d, left, after, pos, b, first, end, z);
        // A literal repeat before that run: the run is the repeat's copy; the
        // boundary before it is looked for up to the repeat alone.
        if (const int64_t c = first_repeat(d, pos, found ? first : b, least); c > pos)
            found = earliest_run(d, left, after, pos, c, first, end, z) || (first = end = c, z = left, false);
        if (!found) {
            if (first < b && first > pos) {
                // Up to a repeat with nothing between: one disturbance, the alignment kept.
                explain_emit(d, left, left, pos, first, left_from, first, out);
                pos = first;
                continue;
            }
            explain_emit(d, left, after, pos, b, left_from, unbounded, out);
            return;
        }
        // The alignment on the left again right where it stopped: nothing happened there.
        if (!(first == pos && same_alignment(left, z, pos)))
            explain_emit(d, left, z, pos, first, left_from, end, out);
        seen.push_back({first, z});
        left = z;
        left_from = first;
        pos = end;
    }
    // The stretch's end: a boundary there when the alignment on the left is not yet the one after.
    if (pos >= b && !same_alignment(left, after, b))
        explain_emit(d, left, after, b, b, left_from, unbounded, out);
}

void monitor_explain_found(monitor_detector& d, const monitor_model& after, int64_t b, std::vector<monitor_event>& out)
{
    // The earliest run of some alignment within the last window before b
    // (the one after, or another): the stimulus back there, and what
    // happened between it and b (a click, a slip) its own event.
    const int64_t least = monitor_seconds(d, between_least_seconds);
    const int64_t a = std::max({d.trigger, monitor_ring_oldest(d), b - d.window});
    int64_t first = b, end = b, f = 0, e = 0;
    monitor_model back_model = after, other;
    if (first_run(d, after, a, b, least, f, e))
        first = f, end = e;
    if (other_run(d, after, true, a, b, least, f, e, other) && f < first)
        first = f, end = e, back_model = other;
    monitor_event back;
    back.frame = std::max(first, d.trigger);
    back.kind = monitor_kind::found;
    back.frames = back.frame - d.trigger + d.lost_earlier;
    back.delay = monitor_model_delay_at(back_model, back.frame);
    back.delay_change = back.delay - monitor_model_delay_at(d.previous, back.frame);
    monitor_report(d, back, out);
    d.summary.frames_lost += back.frame - d.trigger;
    d.jumps -= std::nearbyint(back.delay_change);
    // From the run's end to b, and at b when the alignment there is not yet the one after.
    monitor_explain(d, back_model, after, std::min(end, b), b, out);
}
