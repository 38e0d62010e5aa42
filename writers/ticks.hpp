// Where an axis puts its ticks and what it writes under them: steps of 1, 2
// and 5 x 10^n on a linear axis; 1, 2 and 5 in every decade of a log axis.
#pragma once
#include <string>
#include <vector>

// The smallest step of 1, 2 or 5 x 10^n that cuts span into at most max_count
// pieces; 0 when span or max_count is not positive and finite.
double ticks_step(double span, int max_count);

// The multiples of ticks_step(hi - lo, max_count) in [lo, hi] (a part in 10^9
// of slack at either end), each computed as k x step, so that no error
// accumulates from one to the next. Empty when the range is empty or not finite.
std::vector<double> ticks_linear(double lo, double hi, int max_count);

struct log_tick {
    double value;
    bool labelled;
};

// m x 10^n for m = 1 .. 9 in [lo, hi] (0 < lo < hi); the labelled ones are
// m = 1, 2, 5, or only m = 1 when the range spans more than five decades, or
// every one when fewer than two of those fall in the range.
std::vector<log_tick> ticks_log(double lo, double hi);

// A linear tick's label: as many decimals as the step needs ("0.1", "-2", "0").
std::string ticks_label(double value, double step);

// A frequency's label: "20", "500", "1k", "1.5k", "20k".
std::string ticks_label_hz(double hz);
