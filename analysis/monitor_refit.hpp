// The local refit of the loop's delay over a stretch of the capture. Given
// the residue r(n) of the capture against the model and the model's
// derivative D(n) = d prediction / d delay at each frame, the correction
// e(n) to the model's delay is a linear spline (its value at each knot,
// linear between them) chosen to minimise sum (r - D e)^2: the signal's
// derivative projected out of the residue. Linear in e, so exact for the
// small corrections a tracking error needs; the caller runs the model again
// at the corrected delay for larger ones. With one more knot where it
// explains most, a corner of the delay (a step of the clocks' rate inside the
// stretch) is fitted exactly. Pure: the caller owns the spans.
#pragma once
#include <array>
#include <cstdint>
#include <span>

inline constexpr int monitor_refit_most_knots = 8;

// The stretch's prefix sums (each span one longer than the stretch), frames n = 0 .. length - 1.
struct monitor_refit_sums {
    std::span<double> d0, d1, d2;  // sum D^2, n D^2, n^2 D^2 over frames before each index
    std::span<double> r0, r1;      // sum r D, n r D
    double rr = 0.0;               // sum r^2 over the stretch
    int64_t length = 0;
};

struct monitor_refit {
    bool solved = false;
    int knots = 0;
    std::array<int64_t, monitor_refit_most_knots> at{};     // frames from the stretch's start, 0 .. length, rising
    std::array<double, monitor_refit_most_knots> value{};   // the correction there, frames
    std::array<double, monitor_refit_most_knots> spread{};  // its standard error over the residue's sigma
    double explained = 0.0;                                 // what the correction takes out of sum r^2
    double left = 0.0;                                      // sum r^2 less it: the squares left
};

// The prefix sums of r and D (length frames) into s's spans (length + 1 each).
void monitor_refit_prepare(std::span<const double> r, std::span<const double> d, monitor_refit_sums& s);

// The spline through the knots given: increasing, the first 0, the last the stretch's length.
monitor_refit monitor_refit_solve(const monitor_refit_sums& s, std::span<const int64_t> knots);

// Knots at pieces + 1 even places from 0 to the length.
monitor_refit monitor_refit_even(const monitor_refit_sums& s, int pieces);

// The even spline with one more knot, at the frame of [first, end) where it explains most.
monitor_refit monitor_refit_corner(const monitor_refit_sums& s, int pieces, int64_t first, int64_t end);

// The correction at frame n of the stretch (linear between the knots, the end pieces extended).
double monitor_refit_at(const monitor_refit& f, double n);
