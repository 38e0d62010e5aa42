#include "tools/loopsim/struggle.hpp"

#include <algorithm>
#include <cmath>

namespace loopsim {

struggle struggle_make(int64_t below, double rate)
{
    struggle s;
    s.below = below;
    // Whole frames, rounded to the nearest (even on a tie: 44101 Hz gives 22050).
    s.second = std::max<int64_t>(2, std::llrint(rate));
    s.half = std::max<int64_t>(1, std::llrint(rate / 2.0));
    return s;
}

void struggle_period(struggle& s, int64_t period, int64_t next)
{
    if (period == s.period)
        return;
    s.period = period;
    // A stretch still inserted goes at once: the new period's stream starts
    // without the old one's extra delay.
    if (s.owed > 0)
        s.drop_at = next;
    s.next_insert = s.below > 0 && period > 0 && period < s.below ? next + s.second : -1;
}

bool struggle_due(const struggle& s, int64_t since, glitch& g)
{
    // The drop first: after a period change it is due on the first frame of
    // the new period, which no insert can share (the next is a second later).
    if (s.drop_at >= 0 && s.drop_at <= since) {
        g = {glitch_kind::drop, s.drop_at, s.owed, glitch_side::capture};
        return true;
    }
    if (s.next_insert >= 0 && s.next_insert <= since) {
        g = {glitch_kind::insert, s.next_insert, s.period, glitch_side::capture};
        return true;
    }
    return false;
}

void struggle_done(struggle& s, const glitch& g, int64_t done)
{
    if (g.kind == glitch_kind::drop) {
        s.drop_at = -1, s.owed = 0;
        return;
    }
    // The drop takes back what the insert did (less, if the headroom cut it short).
    s.next_insert = g.at + s.second;
    s.owed = done;
    s.drop_at = done > 0 ? g.at + s.half : -1;
}

}  // namespace loopsim
