// shot_check: reads what a screenshot of a program's window shows, for the
// end-to-end accuracy tests and tools/accuracy.sh.
//
//   shot_check text SHOT.ppm X Y N
//       prints the N characters drawn in yellow with their top-left pixel at
//       (X, Y), read cell by cell against the programs' font ('?' where no
//       glyph matches)
//   shot_check trace tessaly|orbisca SHOT.ppm TRUTH [exact | within DB]
//       compares the trace (green) with the true levels: TRUTH holds "bin dB"
//       lines for bins 0 .. 1023, taken relative to their mean over bins
//       100 .. 923 as the programs do. Prints the worst error the picture
//       allows over the visible columns, in dB, and how many columns were
//       visible. "exact": every column equals the window that the true levels
//       draw, but next to a bin whose true row lies within 0.05 rows of a
//       rounding boundary. "within DB": every column's point lies within DB of
//       the truth. Exit status 1 when the check fails.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display/display.hpp"
#include "display/hooks.hpp"
#include "rtresponse/display.hpp"
#include "rtresponse/scale.hpp"

namespace {

struct picture {
    int64_t width = 0, height = 0;
    std::vector<uint8_t> rgb;
    bool is(int64_t x, int64_t y, std::array<uint8_t, 3> c) const
    {
        const uint8_t* p = &rgb[3 * (y * width + x)];
        return p[0] == c[0] && p[1] == c[1] && p[2] == c[2];
    }
};

bool read_ppm(const char* path, picture& pic)
{
    std::FILE* in = std::fopen(path, "rb");
    if (!in)
        return false;
    long long w = 0, h = 0, max = 0;
    const bool ok = std::fscanf(in, "P6 %lld %lld %lld", &w, &h, &max) == 3 && max == 255 && std::fgetc(in) != EOF;
    pic.width = w, pic.height = h;
    pic.rgb.resize(static_cast<size_t>(3 * w * h));
    const bool read = ok && std::fread(pic.rgb.data(), 1, pic.rgb.size(), in) == pic.rgb.size();
    std::fclose(in);
    return read;
}

int read_text(const picture& pic, int64_t x, int64_t y, int64_t n)
{
    const std::array<uint8_t, 3> yellow = palette_rgb(14);
    std::string text;
    for (int64_t i = 0; i < n; i++) {
        std::array<uint8_t, 8> cell{};
        for (int64_t r = 0; r < 8; r++)
            for (int64_t c = 0; c < 8; c++)
                if (x + 8 * i + c < pic.width && y + r < pic.height && pic.is(x + 8 * i + c, y + r, yellow))
                    cell[r] |= static_cast<uint8_t>(0x80 >> c);
        char found = '?';
        for (int code = 32; code < 127; code++)
            if (font_glyph(static_cast<uint8_t>(code)) == cell) {
                found = static_cast<char>(code);
                break;
            }
        text += found;
    }
    std::printf("%s\n", text.c_str());
    return 0;
}

// Green rows of one column, top to bottom, as a bitmap.
std::vector<bool> green_rows(const picture& pic, int64_t x)
{
    const std::array<uint8_t, 3> green = palette_rgb(10);
    std::vector<bool> rows(static_cast<size_t>(pic.height));
    for (int64_t r = 0; r < pic.height; r++)
        rows[r] = pic.is(x, r, green);
    return rows;
}

int check_trace(const char* program, const picture& shot, const char* truth_path, const char* mode, double tolerance_db)
{
    const response_scale& scale =
        response_scale_select(std::strcmp(program, "orbisca") == 0 ? scale_orbisca : scale_tessaly);
    const int64_t height = scale.window_height;
    if (shot.width != response_window_width || shot.height != height) {
        std::fprintf(stderr, "shot_check: the screenshot is %lldx%lld\n", static_cast<long long>(shot.width),
                     static_cast<long long>(shot.height));
        return 2;
    }
    std::vector<double> level(1024, 0.0);
    std::FILE* in = std::fopen(truth_path, "r");
    long long bin;
    double value;
    while (in && std::fscanf(in, "%lld %lf", &bin, &value) == 2)
        if (bin >= 0 && bin < 1024)
            level[bin] = value;
    if (in)
        std::fclose(in);
    double mean = 0.0;
    for (int64_t k = 100; k <= 923; k++)
        mean += level[k];
    mean /= 824.0;
    std::vector<double> y(1024);
    for (int64_t k = 0; k < 1024; k++)
        y[k] = (level[k] - mean) * scale.pixels_per_db + scale.zero_db_y;

    // The window the true levels draw, labels and all.
    gfx_open_memory(response_window_width, height);
    std::vector<float> spectrum(2049, 0.0f);
    for (int64_t k = 0; k < 1024; k++)
        spectrum[k] = static_cast<float>(level[k]);
    response_display(spectrum.data(), 256, "system");
    picture expected;
    expected.width = response_window_width, expected.height = height;
    for (uint8_t index : gfx_pixels()) {
        const std::array<uint8_t, 3> c = palette_rgb(index);
        expected.rgb.insert(expected.rgb.end(), c.begin(), c.end());
    }

    // Worst error the picture allows: each visible column must hold a green
    // pixel within e rows of its true point, and none beyond e rows outside
    // the span between its neighbours' true points.
    double worst_rows = 0.0;
    int64_t worst_bin = -1, differing = 0, visible = 0;
    std::string differing_bins;
    std::vector<bool> tie(1024, false);
    for (int64_t k = 0; k < 1024; k++)
        tie[k] = std::fabs(y[k] - std::floor(y[k]) - 0.5) < 0.05;
    for (int64_t k = 0; k < 1024; k++) {
        const std::vector<bool> got = green_rows(shot, k), want = green_rows(expected, k);
        if (got != want && !(tie[k] || (k > 0 && tie[k - 1]) || (k < 1023 && tie[k + 1]))) {
            differing++;
            if (differing <= 10)
                differing_bins += " " + std::to_string(k);
        }
        if (std::find(want.begin(), want.end(), true) == want.end() || y[k] < 0.0 || y[k] > double(height - 1))
            continue;  // nothing of this point to see: under a label or outside the window
        visible++;
        double nearest = 1e9, beyond = 0.0;
        const double low = std::min({y[k], y[std::max<int64_t>(k - 1, 0)], y[std::min<int64_t>(k + 1, 1023)]});
        const double high = std::max({y[k], y[std::max<int64_t>(k - 1, 0)], y[std::min<int64_t>(k + 1, 1023)]});
        for (int64_t r = 0; r < height; r++) {
            if (!got[r])
                continue;
            const double py = static_cast<double>(height - 1 - r);
            nearest = std::min(nearest, std::fabs(py - y[k]));
            beyond = std::max({beyond, low - py, py - high});
        }
        const double e = std::max(nearest, beyond);
        if (e > worst_rows)
            worst_rows = e, worst_bin = k;
    }
    const double worst_db = worst_rows / scale.pixels_per_db;
    std::printf("worst error %.3f dB (%.1f rows) at bin %lld of %lld visible", worst_db, worst_rows,
                static_cast<long long>(worst_bin), static_cast<long long>(visible));
    if (std::strcmp(mode, "exact") == 0) {
        std::printf("; %lld columns differ from the true rows%s\n", static_cast<long long>(differing),
                    differing_bins.c_str());
        return differing == 0 ? 0 : 1;
    }
    std::printf("\n");
    return worst_db <= tolerance_db ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    picture shot;
    if (argc == 6 && std::strcmp(argv[1], "text") == 0 && read_ppm(argv[2], shot))
        return read_text(shot, std::atoll(argv[3]), std::atoll(argv[4]), std::atoll(argv[5]));
    if (argc >= 6 && std::strcmp(argv[1], "trace") == 0 && read_ppm(argv[3], shot))
        return check_trace(argv[2], shot, argv[4], argv[5], argc > 6 ? std::atof(argv[6]) : 0.0);
    std::fprintf(stderr,
                 "usage: shot_check text SHOT.ppm X Y N\n"
                 "       shot_check trace tessaly|orbisca SHOT.ppm TRUTH exact|within DB\n");
    return 2;
}
