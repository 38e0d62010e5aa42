// Plot primitives over the display services, y counted from the bottom.
#include "display/plot.hpp"

#include <string>

#include "display/display.hpp"

namespace {

int64_t window_height()
{
    int64_t width, height;
    gfx_size(width, height);
    return height;
}

}  // namespace

void plot_point(int64_t x, int64_t y, int64_t colour)
{
    const int64_t h = window_height();
    gfx_line(x, h - y - 1, x, h - y - 1, colour, 0xFFFF);
}

void plot_line(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t colour)
{
    const int64_t h = window_height();
    gfx_line(x1, h - y1 - 1, x2, h - y2 - 1, colour, 0xFFFF);
}

void plot_line_styled(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t colour, uint32_t style)
{
    const int64_t h = window_height();
    gfx_line(x1, h - y1 - 1, x2, h - y2 - 1, colour, style);
}

void plot_box(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t colour)
{
    const int64_t h = window_height();
    gfx_box(x1, h - y1 - 1, x2, h - y2 - 1, colour);
}

void plot_fill_box(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t colour)
{
    const int64_t h = window_height();
    gfx_fill_box(x1, h - y1 - 1, x2, h - y2 - 1, colour);
}

void plot_text(int64_t x, int64_t y, std::string_view text, int64_t colour)
{
    const int64_t h = window_height();
    gfx_text(x, h - y - 8, text, colour);
}

void plot_text_bold(int64_t x, int64_t y, std::string_view text, int64_t colour)
{
    const int64_t h = window_height();
    for (int64_t dx = -1; dx <= 1; dx++)
        for (int64_t dy = -1; dy <= 1; dy++)
            gfx_text(x + dx, h - y - 8 + dy, text, colour);
}

void plot_text_repeat_bold(int64_t x, int64_t y, int64_t n, int64_t colour)
{
    const int64_t h = window_height();
    const std::string blocks(static_cast<size_t>(n > 0 ? n : 0), '\xDB');
    for (int64_t dx = -1; dx <= 0; dx++)
        for (int64_t dy = -1; dy <= 1; dy++)
            gfx_text(x + dx, h - y - 8 + dy, blocks, colour);
}
