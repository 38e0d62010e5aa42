// The interface's clock against the system's: the stream's frames against
// the monotonic clock's time at each callback, as the interface's actual
// sample rate and its offset from the nominal one in ppm, with an interval.
// Pure: the caller owns the points (io/ records them in the callback).
#pragma once
#include <cstdint>
#include <span>
#include <string>

// One callback: the monotonic clock when it began (ns, any origin) and the
// stream's frame it began at. breaks: the host flagged an xrun or the
// callback missed a cycle since the point before, so the line starts again
// here (a late server resets its timing: the frames go on from where they
// stood, the clock does not).
struct clock_point {
    int64_t ns = 0;
    int64_t frame = 0;
    bool breaks = false;
};

// Below this many seconds of points the figure is not given: the callbacks'
// wake-up jitter (tens of microseconds to a millisecond) over a short span
// leaves tens of ppm of doubt, more than any interface's error.
inline constexpr double clock_rate_least_s = 5.0;

struct clock_rate {
    std::string error = "not measured";  // "" when the figures stand, otherwise why there are none
    double rate_hz = 0.0;                // the interface's rate on the system's clock
    double ppm = 0.0;                    // its offset from the nominal rate, parts per million
    double ppm_uncertainty = 0.0;        // half the 95 % interval, ppm
    double span_s = 0.0;                 // the seconds the segments cover, together
    int64_t points = 0;                  // the points the fit used
    int64_t outliers = 0;                // points set aside as far off the line (a callback woken very late)
    int segments = 0;                    // the lines fitted: one more than the breaks between them
};

// The fit: time against frames (the frames are exact, the callbacks' times
// carry the jitter), one slope shared by the segments between breaks, each
// its own offset. A point further off its line than 5 robust standard
// deviations (a callback woken very late) is set aside and the line fitted
// again. The interval: twice the slope's standard error, widened by the
// residuals' correlation from one point to the next where it is positive;
// or, when wider, the jackknife's over ten contiguous blocks (a busy
// machine wakes callbacks late in spells, which the first does not see).
// error says why not when fewer than 10 points or less than least_s of
// segments of 3 points or more remain, or nominal_rate is not a positive number.
clock_rate clock_rate_fit(std::span<const clock_point> points, double nominal_rate,
                          double least_s = clock_rate_least_s);
