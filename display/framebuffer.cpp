// Drawing into the 8-bit framebuffer: lines, boxes, text and the text cursor.
#include <algorithm>

#include "display/display.hpp"
#include "display/hooks.hpp"
#include "display/state.hpp"

std::mutex display_lock;
display_state display;

namespace {

// Sets one pixel when it lies inside the framebuffer.
void put_pixel(int64_t x, int64_t y, int64_t colour)
{
    if (x < 0 || y < 0 || x >= display.width || y >= display.height)
        return;
    display.pixels[static_cast<size_t>(y * display.width + x)] = static_cast<uint8_t>(colour);
    display.dirty = true;
}

// Range of steps i in 0..steps whose major coordinate start + dir * i lies in
// 0..limit-1; first > last when none does.
void visible_steps(int64_t start, int64_t dir, int64_t steps, int64_t limit, int64_t& first, int64_t& last)
{
    first = 0;
    last = steps;
    if (dir > 0) {
        first = std::max<int64_t>(first, -start);
        last = std::min<int64_t>(last, limit - 1 - start);
    } else if (dir < 0) {
        first = std::max<int64_t>(first, start - (limit - 1));
        last = std::min<int64_t>(last, start);
    } else if (start < 0 || start >= limit) {
        last = -1;
    }
}

// Line by steps along its major axis; step i sits at the minor offset
// i * minor / major rounded half away from the start, so both end pixels are
// on the line. Only steps whose major coordinate is visible are visited, which
// keeps far-away end points cheap. __int128 keeps the products exact.
void draw_line(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t colour, uint32_t style)
{
    const __int128 dx = static_cast<__int128>(x2) - x1, dy = static_cast<__int128>(y2) - y1;
    const __int128 adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
    const bool x_major = adx >= ady;
    const __int128 major = x_major ? adx : ady, minor = x_major ? ady : adx;
    const int64_t major_dir = x_major ? (dx < 0 ? -1 : 1) : (dy < 0 ? -1 : 1);
    const int64_t minor_dir = x_major ? (dy < 0 ? -1 : 1) : (dx < 0 ? -1 : 1);
    const int64_t major_start = x_major ? x1 : y1, minor_start = x_major ? y1 : x1;
    const int64_t major_limit = x_major ? display.width : display.height;
    if (major > INT64_MAX / 2)
        return;  // no visible line spans that far with this framebuffer
    int64_t first, last;
    visible_steps(major_start, major_dir, static_cast<int64_t>(major), major_limit, first, last);
    const uint32_t mask = style & 0xFFFF;
    for (int64_t i = first; i <= last; i++) {
        if (!(mask & (0x8000u >> (i % 16))))
            continue;
        const __int128 offset = major == 0 ? 0 : (2 * static_cast<__int128>(i) * minor + major) / (2 * major);
        const __int128 m = minor_start + minor_dir * offset;
        if (m < INT64_MIN || m > INT64_MAX)
            continue;
        const int64_t a = major_start + major_dir * i;
        if (x_major)
            put_pixel(a, static_cast<int64_t>(m), colour);
        else
            put_pixel(static_cast<int64_t>(m), a, colour);
    }
}

void fill_clipped(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t colour)
{
    const int64_t left = std::max<int64_t>(std::min(x1, x2), 0);
    const int64_t right = std::min<int64_t>(std::max(x1, x2), display.width - 1);
    const int64_t top = std::max<int64_t>(std::min(y1, y2), 0);
    const int64_t bottom = std::min<int64_t>(std::max(y1, y2), display.height - 1);
    for (int64_t y = top; y <= bottom; y++)
        for (int64_t x = left; x <= right; x++)
            put_pixel(x, y, colour);
}

// Draws one glyph; the background shows through unless opaque.
void draw_glyph(int64_t x, int64_t y, uint8_t code, int64_t colour, bool opaque)
{
    const std::array<uint8_t, 8>& rows = font_glyph(code);
    for (int64_t r = 0; r < 8; r++)
        for (int64_t c = 0; c < 8; c++) {
            if (rows[r] & (0x80 >> c))
                put_pixel(x + c, y + r, colour);
            else if (opaque)
                put_pixel(x + c, y + r, colour_black);
        }
}

// Moves the text grid up one row of cells and blanks the last row.
void scroll_text_grid()
{
    const int64_t rows = display.height / 8, cols = display.width / 8;
    for (int64_t y = 0; y < (rows - 1) * 8; y++)
        std::copy_n(&display.pixels[(y + 8) * display.width], cols * 8, &display.pixels[y * display.width]);
    fill_clipped(0, (rows - 1) * 8, cols * 8 - 1, rows * 8 - 1, colour_black);
    display.dirty = true;
}

void cursor_next_row()
{
    display.cursor_col = 0;
    display.cursor_row++;
    if (display.cursor_row >= display.height / 8) {
        scroll_text_grid();
        display.cursor_row = display.height / 8 - 1;
    }
}

}  // namespace

void gfx_open_memory(int64_t width, int64_t height)
{
    std::lock_guard<std::mutex> hold(display_lock);
    display.width = std::max<int64_t>(width, 0);
    display.height = std::max<int64_t>(height, 0);
    display.pixels.assign(static_cast<size_t>(display.width * display.height), 0);
    display.cursor_col = 0;
    display.cursor_row = 0;
}

void gfx_size(int64_t& width, int64_t& height)
{
    std::lock_guard<std::mutex> hold(display_lock);
    width = display.width;
    height = display.height;
}

void gfx_line(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t colour, uint32_t style)
{
    std::lock_guard<std::mutex> hold(display_lock);
    draw_line(x1, y1, x2, y2, colour, style);
}

void gfx_box(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t colour)
{
    std::lock_guard<std::mutex> hold(display_lock);
    draw_line(x1, y1, x2, y1, colour, 0xFFFF);
    draw_line(x1, y2, x2, y2, colour, 0xFFFF);
    draw_line(x1, y1, x1, y2, colour, 0xFFFF);
    draw_line(x2, y1, x2, y2, colour, 0xFFFF);
}

void gfx_fill_box(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t colour)
{
    std::lock_guard<std::mutex> hold(display_lock);
    fill_clipped(x1, y1, x2, y2, colour);
}

void gfx_text(int64_t x, int64_t y, std::string_view text, int64_t colour)
{
    std::lock_guard<std::mutex> hold(display_lock);
    for (size_t i = 0; i < text.size(); i++) {
        const int64_t cell_x = x + 8 * static_cast<int64_t>(i);
        if (cell_x >= display.width)
            break;
        draw_glyph(cell_x, y, static_cast<uint8_t>(text[i]), colour, false);
    }
}

void con_print(std::string_view text, bool keep_on_line)
{
    std::lock_guard<std::mutex> hold(display_lock);
    if (display.pixels.empty()) {
        console_write(text, !keep_on_line);
        return;
    }
    const int64_t cols = display.width / 8;
    if (cols == 0 || display.height / 8 == 0)
        return;
    for (char c : text) {
        if (display.cursor_col >= cols)
            cursor_next_row();
        draw_glyph(display.cursor_col * 8, display.cursor_row * 8, static_cast<uint8_t>(c), colour_text, true);
        display.cursor_col++;
    }
    if (!keep_on_line)
        cursor_next_row();
}

uint8_t gfx_pixel(int64_t x, int64_t y)
{
    std::lock_guard<std::mutex> hold(display_lock);
    if (x < 0 || y < 0 || x >= display.width || y >= display.height)
        return 0;
    return display.pixels[static_cast<size_t>(y * display.width + x)];
}

std::vector<uint8_t> gfx_pixels()
{
    std::lock_guard<std::mutex> hold(display_lock);
    return display.pixels;
}
