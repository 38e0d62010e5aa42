// Plot primitives: coordinates counted upwards from the bottom row (y = 0),
// turned into framebuffer rows with the window height read on every call, so
// they stay right for any window size. Text is placed by its bottom edge: text
// at plot (x, y) covers plot rows y .. y + 7. Clipping is left to the services.
#pragma once
#include <cstdint>
#include <string_view>

void plot_point(int64_t x, int64_t y, int64_t colour);
void plot_line(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t colour);
void plot_line_styled(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t colour, uint32_t style);
void plot_box(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t colour);
void plot_fill_box(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t colour);
void plot_text(int64_t x, int64_t y, std::string_view text, int64_t colour);
// Nine draws, one pixel around both ways: an outline or halo in colour 0.
void plot_text_bold(int64_t x, int64_t y, std::string_view text, int64_t colour);
// n solid blocks (character 219) drawn six times, widened to the left and
// vertically: an erasing bar over columns x-1 .. x+8n-1, plot rows y-1 .. y+8.
void plot_text_repeat_bold(int64_t x, int64_t y, int64_t n, int64_t colour);
