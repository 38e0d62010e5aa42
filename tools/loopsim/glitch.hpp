// loopsim's glitches: stretches of frames dropped from, repeated in or zeroed
// in one of its two streams, at planned times or drawn from a seed, and the
// lock-free queue that carries each one, as it happens, from the process
// callback to the main thread, which logs it; with it, the clock's truth at
// intervals (clock records).
//
// The two sides (see stream.hpp):
//   capture   loopsim's output stream, after the --ppm clock: whole frames of
//             what the program records (a lost or repeated capture packet)
//   playback  loopsim's input stream, before the clock: whole frames of what
//             the program played (a skipped or repeated output buffer, frames
//             that never reached the converter or reached it twice)
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

namespace loopsim {

// polarity and burst are no slips: a flip of the capture's sign, and a
// burst of white noise added to n output frames (never drawn at random).
enum class glitch_kind { drop, insert, zero, polarity, burst };
enum class glitch_side { capture, playback };

// A planned glitch, n frames of its side's stream: on the capture side at
// frame `at` of the output stream (frames since the first non-zero input, as
// for the dropouts); on the playback side at frame `at` of the converter's
// stream (the played frames as they reach the converter, counted from the
// first non-zero one: the played frame itself until a playback slip moves it).
struct glitch {
    glitch_kind kind = glitch_kind::drop;
    int64_t at = 0, n = 0;
    glitch_side side = glitch_side::capture;
};

// A glitch as it happened: the truth a monitor is checked against.
//   out: the first frame of the output stream it touched, counted from the
//        first non-zero input (frame 0 of the output stream is the frame slot in
//        which that input arrived; input and output run in step); for a
//        playback-side glitch, the first output frame whose read position
//        (through the whole --delay, the clock's resampler and the capture
//        slips before) lies at or past the converter frame where it acts
//   in:  the frame of the input stream, counted the same way, that this output
//        frame would have carried without the glitch (for a drop the first
//        frame dropped; for an insert the frame the repeated stretch comes
//        before; for a zero the first frame lost), through the whole --delay;
//        the filters' own delays (--fraction, --aa) are not counted; for a
//        playback-side glitch exactly the played frame where it acts (the
//        frame the converter would have received there)
//   n:   the frames dropped, repeated or zeroed, in the side's own frames (a
//        drop or insert that the reserve cannot hold is cut short, and n says
//        how far it went)
struct glitch_record {
    glitch_kind kind = glitch_kind::drop;
    int64_t n = 0, out = 0, in = 0;
    glitch_side side = glitch_side::capture;
};

// The clock's truth at one output frame (records every --clock-log seconds):
//   out: the output frame, counted as a glitch's
//   in:  the input frame (fractional) that it carries: its read position in
//        the played stream, through the whole --delay, the resampler's 64
//        frames, the clock and every slip so far, as a glitch's in
//   ppm: the clock's offset at that frame, --ppm plus the wander
struct clock_record {
    int64_t out = 0;
    double in = 0.0, ppm = 0.0;
};

// Random glitches: COUNT a minute on average, the gaps uniform in 0.5 .. 1.5
// of 60 / COUNT seconds, the kind one of the three with equal chances, n
// log-uniform in 1 .. 1024 frames; all from the seed, the same every run.
struct glitch_random {
    double per_minute = 0.0;                  // 0: none
    glitch_side side = glitch_side::capture;  // of every glitch it draws
    uint64_t state = 1;
    int64_t next_at = -1;  // frames since the first sound
};

glitch_random glitch_random_make(double per_minute, uint64_t seed, double rate,
                                 glitch_side side = glitch_side::capture);

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
    // The clock records, a queue of their own beside the glitches'.
    clock_record clocks[glitch_queue_size];
    std::atomic<uint64_t> clock_head{0}, clock_tail{0};
};

void glitch_queue_push(glitch_queue& q, const glitch_record& r);
bool glitch_queue_pop(glitch_queue& q, glitch_record& r);
void clock_queue_push(glitch_queue& q, const clock_record& r);
bool clock_queue_pop(glitch_queue& q, clock_record& r);

const char* glitch_kind_name(glitch_kind kind);
bool glitch_kind_parse(const std::string& text, glitch_kind& kind);
const char* glitch_side_name(glitch_side side);
bool glitch_side_parse(const std::string& text, glitch_side& side);

// "glitch kind=drop n=480 out=480000 in=479700 t=10.000000\n" on the capture
// side (today's line, byte for byte); on the playback side the same with
// " side=playback" before the newline. A line without side= is a capture one.
std::string glitch_format(const glitch_record& r, double rate);

// "clock out=48000 in=45873.123456 delay=2126.876544 ppm=150.312000 t=1.000000\n":
// delay = out - in, t = out / rate.
std::string clock_format(const clock_record& r, double rate);

}  // namespace loopsim
