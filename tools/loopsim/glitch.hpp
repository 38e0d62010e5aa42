// loopsim's glitches: stretches of frames dropped from, repeated in or zeroed
// in its output stream, at planned times or drawn from a seed, and the
// lock-free queue that carries each one, as it happens, from the process
// callback to the main thread, which logs it.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

namespace loopsim {

enum class glitch_kind { drop, insert, zero };

// A planned glitch: at frame `at` of the output stream (frames since the first
// non-zero input, as for the dropouts), n frames.
struct glitch {
    glitch_kind kind = glitch_kind::drop;
    int64_t at = 0, n = 0;
};

// A glitch as it happened: the truth a monitor is checked against.
//   out: the first frame of the output stream it touched, counted from the
//        first non-zero input (frame 0 of the output stream is the frame slot in
//        which that input arrived; input and output run in step)
//   in:  the frame of the input stream, counted the same way, that this output
//        frame would have carried without the glitch (for a drop the first
//        frame dropped; for an insert the frame the repeated stretch comes
//        before; for a zero the first frame lost), through the whole --delay;
//        the filters' own delays (--fraction, --aa) are not counted
//   n:   the frames dropped, repeated or zeroed (a drop or insert that the
//        reserve cannot hold is cut short, and n says how far it went)
struct glitch_record {
    glitch_kind kind = glitch_kind::drop;
    int64_t n = 0, out = 0, in = 0;
};

// Random glitches: COUNT a minute on average, the gaps uniform in 0.5 .. 1.5
// of 60 / COUNT seconds, the kind one of the three with equal chances, n
// log-uniform in 1 .. 1024 frames; all from the seed, the same every run.
struct glitch_random {
    double per_minute = 0.0;  // 0: none
    uint64_t state = 1;
    int64_t next_at = -1;  // frames since the first sound
};

glitch_random glitch_random_make(double per_minute, uint64_t seed, double rate);

// The next random glitch; advances next_at to the one after. Real-time safe.
glitch glitch_random_next(glitch_random& r, double rate);

// Single producer (the process callback), single consumer (the main thread);
// no allocation, no lock. A full queue loses the record and counts it.
constexpr uint64_t glitch_queue_size = 1024;

struct glitch_queue {
    glitch_record records[glitch_queue_size];
    std::atomic<uint64_t> head{0}, tail{0};  // written by the producer, the consumer
    std::atomic<uint64_t> lost{0};
    std::atomic<uint64_t> clamped{0};  // frames at which the stream stage held its lag at a bound
};

void glitch_queue_push(glitch_queue& q, const glitch_record& r);
bool glitch_queue_pop(glitch_queue& q, glitch_record& r);

const char* glitch_kind_name(glitch_kind kind);
bool glitch_kind_parse(const std::string& text, glitch_kind& kind);

// "glitch kind=drop n=480 out=480000 in=479700 t=10.000000\n"
std::string glitch_format(const glitch_record& r, double rate);

}  // namespace loopsim
