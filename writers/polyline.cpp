// Decimation to pixel columns.
#include "writers/polyline.hpp"

#include <cmath>
#include <cstdint>

namespace {

// Appends the kept points of xy[first .. last) (pairs), all in one column.
void keep_column(std::span<const double> xy, size_t first, size_t last, std::vector<double>& out)
{
    size_t low = first, high = first;
    for (size_t i = first; i < last; i += 2) {
        if (xy[i + 1] < xy[low + 1])
            low = i;
        if (xy[i + 1] > xy[high + 1])
            high = i;
    }
    const size_t in_order[4] = {first, low < high ? low : high, low < high ? high : low, last - 2};
    size_t previous = SIZE_MAX;
    for (const size_t i : in_order) {
        if (i == previous)
            continue;
        out.push_back(xy[i]);
        out.push_back(xy[i + 1]);
        previous = i;
    }
}

}  // namespace

void polyline_decimate(std::span<const double> xy, std::vector<double>& out)
{
    const size_t n = xy.size() & ~size_t{1};
    size_t first = 0;
    while (first < n) {
        const double column = std::floor(xy[first]);
        size_t last = first + 2;
        while (last < n && std::floor(xy[last]) == column)
            last += 2;
        keep_column(xy, first, last, out);
        first = last;
    }
}
