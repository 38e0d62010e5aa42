// fbrender: prints text lines into a memory framebuffer the way the programs'
// console does and writes the picture as a PPM file, so that end-to-end tests
// can compare a screenshot of a real window with the expected rendering.
//
//   fbrender WIDTH HEIGHT OUT.ppm [LINE ...]
//
// A LINE of the form @X,Y,COLOUR=TEXT is drawn with gfx_text instead, its
// first cell's top-left pixel at (X, Y), in palette index COLOUR.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "display/display.hpp"
#include "display/hooks.hpp"
#include "tools/ppm.hpp"

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: fbrender WIDTH HEIGHT OUT.ppm [LINE ...]\n");
        return 2;
    }
    const int64_t width = std::atoll(argv[1]), height = std::atoll(argv[2]);
    gfx_open_memory(width, height);
    for (int i = 4; i < argc; i++) {
        long long x, y, colour;
        int used = 0;
        if (std::sscanf(argv[i], "@%lld,%lld,%lld=%n", &x, &y, &colour, &used) == 3 && used > 0)
            gfx_text(x, y, argv[i] + used, colour);
        else
            con_print(argv[i]);
    }
    return ppm_write(argv[3]) ? 0 : 1;
}
