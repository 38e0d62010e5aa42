// The 8x8 code page 437 font and the default VGA 256-colour palette.
#include "display/display.hpp"
#include "display/hooks.hpp"

namespace {

constexpr std::array<uint8_t, 8> glyphs[256] = {
#include "display/font_cp437.inc"
};

// One VGA DAC channel, 6 bits, widened to 8 bits (63 -> 255, 42 -> 170, 21 -> 85).
constexpr uint8_t dac(int v6) { return static_cast<uint8_t>((v6 * 255 + 31) / 63); }

// The 24 hues of each ring of the default palette, as steps 0..4 from the
// ring's low to its high level: blue, through magenta, red, yellow, green and
// cyan, back towards blue.
constexpr uint8_t hue_steps[24][3] = {{0, 0, 4}, {1, 0, 4}, {2, 0, 4}, {3, 0, 4}, {4, 0, 4}, {4, 0, 3},
                                      {4, 0, 2}, {4, 0, 1}, {4, 0, 0}, {4, 1, 0}, {4, 2, 0}, {4, 3, 0},
                                      {4, 4, 0}, {3, 4, 0}, {2, 4, 0}, {1, 4, 0}, {0, 4, 0}, {0, 4, 1},
                                      {0, 4, 2}, {0, 4, 3}, {0, 4, 4}, {0, 3, 4}, {0, 2, 4}, {0, 1, 4}};

// Five 6-bit levels per ring: three intensities, each in three saturations.
constexpr uint8_t ring_levels[9][5] = {{0, 16, 31, 47, 63}, {31, 39, 47, 55, 63}, {45, 49, 54, 58, 63},
                                       {0, 7, 14, 21, 28},  {14, 17, 21, 24, 28}, {20, 22, 24, 26, 28},
                                       {0, 4, 8, 12, 16},   {8, 10, 12, 14, 16},  {11, 12, 13, 15, 16}};

constexpr uint8_t ega[16][3] = {{0, 0, 0},    {0, 0, 42},   {0, 42, 0},   {0, 42, 42},  {42, 0, 0},   {42, 0, 42},
                                {42, 21, 0},  {42, 42, 42}, {21, 21, 21}, {21, 21, 63}, {21, 63, 21}, {21, 63, 63},
                                {63, 21, 21}, {63, 21, 63}, {63, 63, 21}, {63, 63, 63}};

constexpr uint8_t grey_ramp[16] = {0, 5, 8, 11, 14, 17, 20, 24, 28, 32, 36, 40, 45, 50, 56, 63};

}  // namespace

const std::array<uint8_t, 8>& font_glyph(uint8_t code) { return glyphs[code]; }

std::array<uint8_t, 3> palette_rgb(int index)
{
    index &= 255;
    if (index < 16)
        return {dac(ega[index][0]), dac(ega[index][1]), dac(ega[index][2])};
    if (index < 32) {
        uint8_t g = dac(grey_ramp[index - 16]);
        return {g, g, g};
    }
    if (index < 248) {
        const uint8_t* levels = ring_levels[(index - 32) / 24];
        const uint8_t* steps = hue_steps[(index - 32) % 24];
        return {dac(levels[steps[0]]), dac(levels[steps[1]]), dac(levels[steps[2]])};
    }
    return {0, 0, 0};
}
