// Reading the framebuffer in plot coordinates, for the display tests.
#pragma once
#include <cstdint>
#include <vector>

#include "display/display.hpp"
#include "display/hooks.hpp"

// Framebuffer pixel at plot coordinates (y counted up from the bottom row).
inline uint8_t plot_pixel(int64_t x, int64_t y)
{
    int64_t width, height;
    gfx_size(width, height);
    if (y < 0 || y >= height)
        return 0;
    return gfx_pixel(x, height - 1 - y);
}

// Plot rows of column x holding the given colour, bottom to top.
inline std::vector<int64_t> rows_of_colour(int64_t x, uint8_t colour)
{
    int64_t width, height;
    gfx_size(width, height);
    std::vector<int64_t> rows;
    for (int64_t y = 0; y < height; y++)
        if (plot_pixel(x, y) == colour)
            rows.push_back(y);
    return rows;
}
