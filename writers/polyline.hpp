// Polylines brought down to what the pixels can show.
#pragma once
#include <span>
#include <vector>

// Appends to out (x y pairs) the points of xy that a picture can tell apart:
// of each run of consecutive points in one pixel column (floor(x)), the first,
// the lowest, the highest and the last, in their order. A curve of a million
// points comes down to at most four per column and keeps its peaks.
void polyline_decimate(std::span<const double> xy, std::vector<double>& out);
