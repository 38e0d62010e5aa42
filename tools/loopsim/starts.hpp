// --start-delays: a new delay at each start of the client loopsim is plugged
// into (each time the cable is plugged into a new instance of it), as a USB
// interface's round trip changes from one stream start to the next. The delay
// is an extra whole number of frames before the path (--delay and the rest
// stay as they are), from a list taken in turn (again from its start when it
// runs out) or drawn uniformly from a range with a seed; each start logged:
//   start n=3 extra=41 delay=341
// delay: --delay plus extra, the frames the path's delay grew to at that start.
#pragma once
#include <cstdint>
#include <vector>

namespace loopsim {

struct starts {
    std::vector<int64_t> list;  // "0,48,13": the extras in turn
    int64_t min = 0, max = 0;   // "MIN-MAX:SEED": uniform over [min, max]
    uint64_t seed = 0;
    bool range = false;
    bool given() const { return range || !list.empty(); }
};

// "0,48,13" or "10-60:7": whole frames from 0 to 480000. False when it does not read.
bool starts_parse(const char* text, starts& s);

// Start n's extra delay (n from 1): the list's (n-1) mod its size'th, or the
// range's draw for n (the same for the same seed and n, whatever came before).
int64_t starts_extra(const starts& s, int64_t n);

// The largest extra it can give.
int64_t starts_most(const starts& s);

// The extra delay's line, for one channel: a ring of a power of two frames,
// preallocated; each step writes x and reads the frame extra before it.
struct start_line {
    std::vector<float> ring;
    uint64_t mask = 0, at = 0;
};
start_line start_line_make(int64_t most);
float start_line_step(start_line& l, float x, int64_t extra);

}  // namespace loopsim
