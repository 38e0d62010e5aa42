// The callback, the capture ring and the log of flagged calls; the stream's
// program and what the main thread reads of it while it runs.
#include <algorithm>
#include <cmath>

#include "frame/realtime.hpp"
#include "loopcheck/io/stream_load.hpp"
#include "loopcheck/io/stream_state.hpp"

namespace {

// Appends one mark. Only the callback writes, so the count is its own.
void mark_add(stream_state& s, int64_t frame, int64_t frames, unsigned long what)
{
    const int64_t n = s.marks_written.load(std::memory_order_relaxed);
    stream_mark& m = s.marks[static_cast<size_t>(n % stream_mark_capacity)];
    m.frame.store(frame, std::memory_order_relaxed);
    m.frames.store(frames, std::memory_order_relaxed);
    m.what.store(what, std::memory_order_relaxed);
    s.marks_written.store(n + 1, std::memory_order_release);
}

// Missed cycles. The server's frame counter, read in each call, runs ahead
// of the frames the callback has handled by a fixed lead; a cycle the
// callback never saw (a JACK server skips a client that was late) moves the
// lead on by a buffer for good, which no status flag reports and which moves
// the loop's timing by a buffer as the frames count it. A call that merely
// runs late reads the counter of the cycle after its own and moves the lead
// for that call, or a few: so the lead must stand half a buffer above its
// least for stream_clock_calls calls running, and the gap is marked at the
// first of them. Unsigned arithmetic: the counter wraps at 2^32.
void clock_check(stream_state& s, uint32_t now, int64_t first, int64_t count)
{
    // Where the host splits a cycle into several calls (PortAudio at a JACK
    // period longer than its buffer) the counter stands still between them,
    // and the lead falls call by call: the calls to wait for grow with them.
    if (s.clock_started && now == s.clock_last)
        s.clock_cycle_calls++;
    else
        s.clock_split = std::max(s.clock_split, s.clock_cycle_calls), s.clock_cycle_calls = 1;
    s.clock_split_seen.store(s.clock_split, std::memory_order_relaxed);
    s.clock_last = now;
    // The lead, modulo 2^32, kept small by measuring it from the first call's.
    if (!s.clock_started)
        s.clock_origin = now - static_cast<uint32_t>(first), s.clock_base = 0, s.clock_started = true;
    const int64_t lead = static_cast<int32_t>(now - static_cast<uint32_t>(first) - s.clock_origin);
    if (lead < s.clock_base)
        s.clock_base = lead;
    if (lead - s.clock_base <= count / 2) {
        s.clock_ahead_calls = 0;
        return;
    }
    if (s.clock_ahead_calls++ == 0)
        s.clock_ahead_frame = first, s.clock_ahead_lead = lead;
    s.clock_ahead_lead = std::min(s.clock_ahead_lead, lead);
    if (s.clock_ahead_calls < std::max(stream_clock_calls, 2 * s.clock_split + 1))
        return;
    mark_add(s, s.clock_ahead_frame, 0, stream_mark_missed);
    s.clock_base = s.clock_ahead_lead;
    s.clock_ahead_calls = 0;
}

// Whether a mark concerns frames from..to - 1: a flagged call when its buffer
// overlaps them; a missed cycle when the gap lies between two of them.
bool mark_within(int64_t frame, int64_t frames, unsigned long what, int64_t from, int64_t to)
{
    if (what & stream_mark_missed)
        return frame > from && frame < to;
    return frame < to && frame + frames > from;
}

}  // namespace

void stream_prepare(stream_state& s, int64_t frames, int64_t timed_stride)
{
    if (!s.timed)
        s.timed = std::make_unique<stream_timed[]>(static_cast<size_t>(stream_timed_capacity));
    s.timed_written.store(0);
    s.timed_stride = std::max<int64_t>(1, timed_stride);
    s.timed_next = 0;
    size_t size = 1;
    while (size < static_cast<size_t>(frames))
        size *= 2;
    s.ring.assign(size * static_cast<size_t>(s.loops), 0.0f);
    s.ring_mask = size - 1;
    s.next.store(stream_no_clip);
    s.frames_done.store(0);
    s.largest_buffer.store(0);
    s.marks_written.store(0);
    s.clock_started = false;
    s.clock_ahead_calls = 0;
    s.clock_cycle_calls = 0, s.clock_split = 1;
    s.clock_split_seen.store(1);
}

void stream_schedule(stream_state& s, int64_t start, int clip)
{
    s.next.store((start << stream_clip_bits) | clip, std::memory_order_release);
}

int stream_callback(const void* input, void* output, unsigned long frame_count, const PaStreamCallbackTimeInfo*,
                    PaStreamCallbackFlags flags, void* user)
{
    realtime_thread_prepare();
    stream_state& s = *static_cast<stream_state*>(user);
    // The load's clock is read only under --load: a plain run pays nothing for it.
    const double load = s.load_share.load(std::memory_order_relaxed);
    int64_t (*const clock)() = s.load_clock ? s.load_clock : stream_load_clock_ns;
    const int64_t began = load > 0.0 ? clock() : 0;
    const int64_t first = s.frames_done.load(std::memory_order_relaxed);
    // The call's time against its first frame, for the rate against the
    // system's clock: one entry of the preallocated ring, then its count.
    if (s.timed && first >= s.timed_next) {
        const int64_t n = s.timed_written.load(std::memory_order_relaxed);
        stream_timed& e = s.timed[static_cast<size_t>(n % stream_timed_capacity)];
        e.ns.store(s.timed_clock ? s.timed_clock() : stream_load_clock_ns(), std::memory_order_relaxed);
        e.frame.store(first, std::memory_order_relaxed);
        s.timed_written.store(n + 1, std::memory_order_release);
        s.timed_next = first + s.timed_stride;
    }
    // Read once per call: the main thread sets a start well beyond this buffer.
    const int64_t next = s.next.load(std::memory_order_acquire);
    const int64_t start = next >> stream_clip_bits, index = next & stream_no_clip;
    const stream_clip* clip = index < static_cast<int64_t>(s.clips.size()) ? &s.clips[index] : nullptr;
    const int64_t loops = s.loops;
    const int64_t clip_frames = clip ? static_cast<int64_t>(clip->samples.size()) / loops : 0;
    const auto* in = static_cast<const float*>(input);
    auto* out = static_cast<float*>(output);
    const int64_t count = static_cast<int64_t>(frame_count);
    for (int64_t i = 0; i < count; i++) {
        const int64_t frame = first + i;
        if (out) {
            float* o = out + i * s.out_channels;
            std::fill(o, o + s.out_channels, 0.0f);
            int64_t at = frame - start;
            if (clip && at >= 0 && clip_frames > 0 && clip->looping)
                at %= clip_frames;
            if (clip && at >= 0 && at < clip_frames)
                for (int64_t k = 0; k < loops; k++)
                    o[s.out_channel[k]] = clip->samples[at * loops + k];
        }
        float* r = s.ring.data() + (static_cast<uint64_t>(frame) & s.ring_mask) * loops;
        for (int64_t k = 0; k < loops; k++)
            r[k] = in ? in[i * s.in_channels + s.in_channel[k]] : 0.0f;
    }
    // The output's priming at the start is not a dropout.
    const PaStreamCallbackFlags trouble = flags & ~static_cast<PaStreamCallbackFlags>(paPrimingOutput);
    if (trouble)
        mark_add(s, first, count, trouble);
    if (s.clock_read)
        clock_check(s, s.clock_read(s.clock_context), first, count);
    if (count > s.largest_buffer.load(std::memory_order_relaxed))
        s.largest_buffer.store(count, std::memory_order_relaxed);
    s.frames_done.store(first + count, std::memory_order_release);
    if (load > 0.0)
        stream_load_spin(began, stream_load_budget_ns(load, count, s.load_rate), clock);
    return paContinue;
}

bool stream_capture_copy(const stream_state& s, int64_t from, int64_t to, int loop, std::vector<float>& into)
{
    into.resize(static_cast<size_t>(std::max<int64_t>(0, to - from)));
    const int64_t done = s.frames_done.load(std::memory_order_acquire);
    const int64_t size = static_cast<int64_t>(s.ring_mask) + 1;
    if (from < 0 || to > done || done - from > size)
        return false;
    for (int64_t f = from; f < to; f++)
        into[f - from] = s.ring[(static_cast<uint64_t>(f) & s.ring_mask) * s.loops + loop];
    // The callback may have written over the oldest frames while they were copied.
    return s.frames_done.load(std::memory_order_acquire) - from <= size;
}

stream_marks stream_marks_within(const stream_state& s, int64_t from, int64_t to)
{
    stream_marks m;
    unsigned long what_all = 0;
    const int64_t written = s.marks_written.load(std::memory_order_acquire);
    const int64_t oldest = std::max<int64_t>(0, written - stream_mark_capacity);
    // Marks come in frame order: when the oldest one kept is not older than
    // the stretch, some of the stretch's may have been written over.
    m.lost = oldest > 0 &&
             s.marks[static_cast<size_t>(oldest % stream_mark_capacity)].frame.load(std::memory_order_relaxed) >= from;
    for (int64_t n = oldest; n < written; n++) {
        const stream_mark& e = s.marks[static_cast<size_t>(n % stream_mark_capacity)];
        const int64_t frame = e.frame.load(std::memory_order_relaxed),
                      frames = e.frames.load(std::memory_order_relaxed);
        const unsigned long what = e.what.load(std::memory_order_relaxed);
        if (!mark_within(frame, frames, what, from, to))
            continue;
        (what & stream_mark_missed ? m.missed : m.flagged)++;
        what_all |= what;
        m.first = m.first < 0 ? frame : std::min(m.first, frame);
        m.last = std::max(m.last, frame);
    }
    // Marks overwritten while they were read: what they said is not known.
    if (s.marks_written.load(std::memory_order_acquire) - stream_mark_capacity > oldest)
        m.lost = true;
    m.flags = stream_mark_xrun_flags(what_all & ~stream_mark_missed);
    return m;
}

int64_t stream_marks_pending_frames(const stream_state& s)
{
    if (!s.clock_read)
        return 0;
    // The calls clock_check waits for, one more for the call that writes the
    // mark, and one for a cycle split differently since.
    const int calls = std::max(stream_clock_calls, 2 * s.clock_split_seen.load(std::memory_order_relaxed) + 1) + 2;
    return calls * s.largest_buffer.load(std::memory_order_relaxed);
}

std::vector<clock_point> stream_clock_points(const stream_state& s)
{
    std::vector<clock_point> points;
    if (!s.timed)
        return points;
    const int64_t written = s.timed_written.load(std::memory_order_acquire);
    const int64_t oldest = std::max<int64_t>(0, written - stream_timed_capacity);
    for (int64_t n = oldest; n < written; n++) {
        const stream_timed& e = s.timed[static_cast<size_t>(n % stream_timed_capacity)];
        points.push_back({e.ns.load(std::memory_order_relaxed), e.frame.load(std::memory_order_relaxed), false});
    }
    // Entries the callback wrote over while they were read are dropped.
    const int64_t over = s.timed_written.load(std::memory_order_acquire) - stream_timed_capacity - oldest;
    if (over > 0)
        points.erase(points.begin(), points.begin() + std::min<int64_t>(over, static_cast<int64_t>(points.size())));
    // The log's xruns and missed cycles: the line breaks at the first
    // callback at or after each (a flagged call's first frame, the frame
    // after a missed cycle's gap).
    const int64_t marks = s.marks_written.load(std::memory_order_acquire);
    for (int64_t n = std::max<int64_t>(0, marks - stream_mark_capacity); n < marks; n++) {
        const int64_t frame =
            s.marks[static_cast<size_t>(n % stream_mark_capacity)].frame.load(std::memory_order_relaxed);
        const auto at = std::lower_bound(points.begin(), points.end(), frame,
                                         [](const clock_point& p, int64_t f) { return p.frame < f; });
        if (at != points.end() && at != points.begin())
            at->breaks = true;
    }
    return points;
}

std::string stream_channels_set(stream_state& s, const stream_request& o, int outputs, int inputs,
                                const std::string& out_device, const std::string& in_device)
{
    // At least two channels where the device has them, as the windowed
    // programs open: a mono stream is the host APIs' least travelled road
    // (Wine's WASAPI carries nothing on it).
    s.loops = static_cast<int>(o.out_channels.size());
    s.out_channels = std::min(2, outputs), s.in_channels = std::min(2, inputs);
    for (int k = 0; k < s.loops; k++) {
        const int out = static_cast<int>(o.out_channels[k]), in = static_cast<int>(o.in_channels[k]);
        if (outputs < out)
            return "output channel " + std::to_string(out) + " not present (" + out_device + " has " +
                   std::to_string(outputs) + " outputs)";
        if (inputs < in)
            return "input channel " + std::to_string(in) + " not present (" + in_device + " has " +
                   std::to_string(inputs) + " inputs)";
        s.out_channels = std::max(s.out_channels, out), s.in_channels = std::max(s.in_channels, in);
        s.out_channel[k] = out - 1, s.in_channel[k] = in - 1;
    }
    return "";
}

unsigned stream_mark_xrun_flags(unsigned long what)
{
    unsigned flags = (what & stream_mark_missed) ? xrun_missed_cycle : 0u;
    flags |= (what & paInputOverflow) ? xrun_input_overflow : 0u;
    flags |= (what & paInputUnderflow) ? xrun_input_underflow : 0u;
    flags |= (what & paOutputUnderflow) ? xrun_output_underflow : 0u;
    flags |= (what & paOutputOverflow) ? xrun_output_overflow : 0u;
    return flags;
}

// ---- the stream's program and its reading, for the modes --------------------

double stream_reported_frames(const stream_facts& f) { return f.input_latency_frames + f.output_latency_frames; }

bool stream_reported_known(const stream_facts& f)
{
    const double most = 10.0 * f.rate;
    return f.input_latency_frames >= 0.0 && f.output_latency_frames >= 0.0 && f.input_latency_frames <= most &&
           f.output_latency_frames <= most;
}

namespace {

// The server's port latencies are known (straight on JACK) and believable.
bool stream_server_known(const stream_facts& f)
{
    const double most = 10.0 * f.rate;
    return stream_reported_known(f) && f.server_input_frames >= 0.0 && f.server_output_frames >= 0.0 &&
           f.server_input_frames <= most && f.server_output_frames <= most;
}

}  // namespace

double stream_excess_base_frames(const stream_facts& f)
{
    return stream_server_known(f) ? f.server_input_frames + f.server_output_frames : stream_reported_frames(f);
}

const char* stream_excess_base_name(const stream_facts& f)
{
    return stream_server_known(f) ? "JACK's ports" : "the host API";
}

const stream_facts& stream_facts_of(const stream& s) { return s.facts; }

const stream_request& stream_request_of(const stream& s) { return s.request; }

std::vector<float> stream_clip_loops(std::span<const float> mono, int loops, int driven)
{
    std::vector<float> clip(mono.size() * static_cast<size_t>(loops), 0.0f);
    stream_clip_place(clip, loops, 0, mono, driven);
    return clip;
}

void stream_clip_place(std::span<float> clip, int loops, int64_t first, std::span<const float> mono, int driven)
{
    for (size_t i = 0; i < mono.size(); i++)
        for (int k = 0; k < loops; k++)
            if (driven < 0 || k == driven)
                clip[(static_cast<size_t>(first) + i) * static_cast<size_t>(loops) + static_cast<size_t>(k)] = mono[i];
}

int stream_clip_add(stream& s, std::vector<float> samples, bool looping)
{
    s.state.clips.push_back({std::move(samples), looping});
    return static_cast<int>(s.state.clips.size()) - 1;
}

std::span<float> stream_clip_room(stream& s, int clip) { return s.state.clips[static_cast<size_t>(clip)].samples; }

void stream_ring_need(stream& s, int64_t frames) { s.ring_needed = std::max(s.ring_needed, frames); }

int64_t stream_frames_done(const stream& s) { return s.state.frames_done.load(std::memory_order_acquire); }

int64_t stream_largest_buffer(const stream& s) { return s.state.largest_buffer.load(std::memory_order_relaxed); }

void stream_schedule(stream& s, int64_t start, int clip)
{
    if (s.first_sound < 0)
        s.first_sound = start;
    stream_schedule(s.state, start, clip);
}

int64_t stream_first_sound(const stream& s) { return s.first_sound; }

int64_t stream_ahead_of_callback(const stream& s)
{
    return stream_frames_done(s) + 2 * stream_largest_buffer(s) + std::lrint(0.01 * s.facts.rate);
}

int64_t stream_ring_frames(const stream& s) { return static_cast<int64_t>(s.state.ring_mask) + 1; }

bool stream_capture_copy(const stream& s, int64_t from, int64_t to, int loop, std::vector<float>& into)
{
    return stream_capture_copy(s.state, from, to, loop, into);
}

stream_marks stream_marks_within(const stream& s, int64_t from, int64_t to)
{
    return stream_marks_within(s.state, from, to);
}

int64_t stream_marks_pending_frames(const stream& s) { return stream_marks_pending_frames(s.state); }

int64_t stream_marks_written(const stream& s) { return s.state.marks_written.load(std::memory_order_acquire); }

int64_t stream_marks_oldest(const stream& s)
{
    return std::max<int64_t>(0, stream_marks_written(s) - stream_mark_capacity);
}

stream_mark_entry stream_mark_at(const stream& s, int64_t n)
{
    const stream_mark& e = s.state.marks[static_cast<size_t>(n % stream_mark_capacity)];
    return {e.frame.load(std::memory_order_relaxed), stream_mark_xrun_flags(e.what.load(std::memory_order_relaxed))};
}

void stream_load(stream& s, double share) { s.state.load_share.store(share); }
