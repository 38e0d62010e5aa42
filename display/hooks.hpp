// The display services' hooks for tests and tools: a framebuffer in memory
// only, its pixels, queued keys, and the palette, font and key mapping that
// the window uses.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Opens a framebuffer in memory only, with no window.
void gfx_open_memory(int64_t width, int64_t height);
uint8_t gfx_pixel(int64_t x, int64_t y);  // 0 outside the framebuffer
std::vector<uint8_t> gfx_pixels();        // a copy, row by row
void key_push(std::string_view key);      // queues a key as if it were typed
std::array<uint8_t, 3> palette_rgb(int index);
const std::array<uint8_t, 8>& font_glyph(uint8_t code);
// The key string for an SDL key-down event, or "" when the key arrives as text
// input instead (printable characters) or means nothing here.
std::string key_from_sdl(int32_t sym, uint16_t mod);
