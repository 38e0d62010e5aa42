// Writes the memory framebuffer as a binary PPM picture in the palette's colours.
#pragma once
#include <cstdio>

#include "display/display.hpp"
#include "display/hooks.hpp"

inline bool ppm_write(const char* path)
{
    int64_t width, height;
    gfx_size(width, height);
    std::FILE* out = std::fopen(path, "wb");
    if (!out)
        return false;
    std::fprintf(out, "P6\n%lld %lld\n255\n", static_cast<long long>(width), static_cast<long long>(height));
    for (uint8_t index : gfx_pixels()) {
        const std::array<uint8_t, 3> rgb = palette_rgb(index);
        std::fwrite(rgb.data(), 1, 3, out);
    }
    return std::fclose(out) == 0;
}
