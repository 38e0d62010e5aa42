// loopsim's struggling interface (--struggle-below N): one that cannot keep up
// while the JACK server's period is below N frames. Once every second of its
// output stream it repeats one period of capture frames (an insert: the
// capture stream fell a period behind), and half a second later it drops one
// period again (it caught up): the delay returns to what it was. At periods of
// N and above nothing happens.
//
// The schedule counts output frames from the first sound, as every capture
// glitch does (glitch.hpp). It starts again whenever the period changes, as a
// real interface's stream restarts when its buffer size does: the first insert
// comes one second after the frame where the new period took over, or after the
// first sound, whichever is later. A period stretch still inserted when the
// period changes is dropped at once, on the first frame of the new period, so
// that no extra delay outlives its period (its n is the frames inserted, the
// old period).
//
// The glitches it plans are ordinary capture glitches: the stream stage does
// them and logs them as it does a --glitch one. Everything here is real-time
// safe: a few integers, no allocation.
#pragma once
#include <cstdint>

#include "tools/loopsim/glitch.hpp"

namespace loopsim {

// The largest N: every period below it is a glitch loopsim can hold (n at
// most stream_headroom / 2, as for --glitch).
constexpr int64_t struggle_max_below = 131072;

struct struggle {
    int64_t below = 0;         // N; 0: never struggles
    int64_t second = 48000;    // one second of frames at the rate
    int64_t half = 24000;      // half a second
    int64_t period = 0;        // the server's period now; 0 before the first
    int64_t next_insert = -1;  // the output frame (from the first sound) of the next insert; -1: none
    int64_t drop_at = -1;      // the output frame of the drop owed; -1: none
    int64_t owed = 0;          // the frames that drop takes back: those the insert repeated
};

struggle struggle_make(int64_t below, double rate);

// The server's period for the frames that follow; `next` is the output frame
// (from the first sound, 0 before it) of the first of them. A new period
// restarts the schedule there. Called before every period's frames.
void struggle_period(struggle& s, int64_t period, int64_t next);

// The glitch due at output frame since (its at at or before it), if any; the
// caller does it, then tells struggle_done how many frames it moved.
bool struggle_due(const struggle& s, int64_t since, glitch& g);
void struggle_done(struggle& s, const glitch& g, int64_t done);

}  // namespace loopsim
