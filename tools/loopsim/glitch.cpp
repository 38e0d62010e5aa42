#include "tools/loopsim/glitch.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace loopsim {

namespace {

uint64_t next_bits(uint64_t& state)
{
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

// Uniform in [0, 1).
double next_unit(uint64_t& state) { return static_cast<double>(next_bits(state) >> 11) / 9007199254740992.0; }

int64_t next_gap(glitch_random& r, double rate)
{
    return std::max<int64_t>(1, std::llrint(rate * 60.0 / r.per_minute * (0.5 + next_unit(r.state))));
}

}  // namespace

glitch_random glitch_random_make(double per_minute, uint64_t seed, double rate, glitch_side side)
{
    glitch_random r;
    r.per_minute = per_minute;
    r.side = side;
    // splitmix64 of the seed: any seed, 0 included, gives a non-zero xorshift state.
    uint64_t z = seed + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    r.state = (z ^ (z >> 31)) | 1;
    if (per_minute > 0.0)
        r.next_at = next_gap(r, rate);
    return r;
}

glitch glitch_random_next(glitch_random& r, double rate)
{
    glitch g;
    g.at = r.next_at;
    g.kind = static_cast<glitch_kind>(next_bits(r.state) % 3);
    g.n = std::llrint(std::exp(next_unit(r.state) * std::log(1024.0)));
    g.side = r.side;
    r.next_at += next_gap(r, rate);
    return g;
}

namespace {

// One single-producer, single-consumer ring of the queue: its records, its
// two counters, and the queue's count of records lost to a full ring.
template <typename Record>
void ring_push(Record* items, std::atomic<uint64_t>& head_at, const std::atomic<uint64_t>& tail_at,
               std::atomic<uint64_t>& lost, const Record& r)
{
    const uint64_t head = head_at.load(std::memory_order_relaxed);
    if (head - tail_at.load(std::memory_order_acquire) >= glitch_queue_size) {
        lost.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    items[head % glitch_queue_size] = r;
    head_at.store(head + 1, std::memory_order_release);
}

template <typename Record>
bool ring_pop(const Record* items, const std::atomic<uint64_t>& head_at, std::atomic<uint64_t>& tail_at, Record& r)
{
    const uint64_t tail = tail_at.load(std::memory_order_relaxed);
    if (tail == head_at.load(std::memory_order_acquire))
        return false;
    r = items[tail % glitch_queue_size];
    tail_at.store(tail + 1, std::memory_order_release);
    return true;
}

}  // namespace

void glitch_queue_push(glitch_queue& q, const glitch_record& r) { ring_push(q.records, q.head, q.tail, q.lost, r); }

bool glitch_queue_pop(glitch_queue& q, glitch_record& r) { return ring_pop(q.records, q.head, q.tail, r); }

void clock_queue_push(glitch_queue& q, const clock_record& r)
{
    ring_push(q.clocks, q.clock_head, q.clock_tail, q.lost, r);
}

bool clock_queue_pop(glitch_queue& q, clock_record& r) { return ring_pop(q.clocks, q.clock_head, q.clock_tail, r); }

const char* glitch_kind_name(glitch_kind kind)
{
    switch (kind) {
    case glitch_kind::drop: return "drop";
    case glitch_kind::insert: return "insert";
    case glitch_kind::zero: return "zero";
    case glitch_kind::polarity: return "polarity";
    case glitch_kind::burst: return "burst";
    }
    return "";
}

bool glitch_kind_parse(const std::string& text, glitch_kind& kind)
{
    for (glitch_kind k : {glitch_kind::drop, glitch_kind::insert, glitch_kind::zero})
        if (text == glitch_kind_name(k)) {
            kind = k;
            return true;
        }
    return false;
}

const char* glitch_side_name(glitch_side side) { return side == glitch_side::capture ? "capture" : "playback"; }

bool glitch_side_parse(const std::string& text, glitch_side& side)
{
    for (glitch_side s : {glitch_side::capture, glitch_side::playback})
        if (text == glitch_side_name(s)) {
            side = s;
            return true;
        }
    return false;
}

std::string glitch_format(const glitch_record& r, double rate)
{
    char line[192];
    // The capture side's line is the one loopsim always wrote; a playback one names its side.
    // A polarity flip is no glitch: a change line of its own.
    std::snprintf(line, sizeof line, "%s kind=%s n=%lld out=%lld in=%lld t=%.6f%s\n",
                  r.kind == glitch_kind::polarity ? "change" : "glitch", glitch_kind_name(r.kind),
                  static_cast<long long>(r.n), static_cast<long long>(r.out), static_cast<long long>(r.in),
                  static_cast<double>(r.out) / rate, r.side == glitch_side::playback ? " side=playback" : "");
    return line;
}

std::string clock_format(const clock_record& r, double rate)
{
    char line[192];
    std::snprintf(line, sizeof line, "clock out=%lld in=%.6f delay=%.6f ppm=%.6f t=%.6f\n",
                  static_cast<long long>(r.out), r.in, static_cast<double>(r.out) - r.in, r.ppm,
                  static_cast<double>(r.out) / rate);
    return line;
}

}  // namespace loopsim
