// One refresh of the response window: grid, trace of 1024 bin levels relative
// to their mid-band mean, frequency and level labels, read-outs.
#include <cmath>
#include <cstring>
#include <string>

#include "display/display.hpp"
#include "display/plot.hpp"
#include "rtresponse/display.hpp"
#include "rtresponse/scale.hpp"
#include "rtresponse/state.hpp"

namespace {

// Frequency labels along the bottom: 0 Hz, then the solid grid lines at
// 6, 12 and 18 kHz and the right edge at 24 kHz. The five-character texts are
// centred on x + 20 = 257, 513, 769; "6kHz" keeps that centre (241 + 16).
struct frequency_label {
    const char* text;
    int64_t x;
};
constexpr frequency_label frequency_labels[] = {
    {"0", 2}, {"6kHz", 241}, {"12kHz", 493}, {"18kHz", 749}, {"24kHz", 984},
};
constexpr int64_t frequency_label_y = 2;

// Mean level of bins 100 .. 923: a float sum in increasing bin order, / 824 in float.
float mid_band_mean(const float* level)
{
    float sum = 0.0f;
    for (int64_t k = 100; k <= 923; k++)
        sum += level[k];
    return sum / 824.0f;
}

// A text over a black bar as wide as the text (n block glyphs, drawn bold).
void blanked_text(int64_t x, int64_t y, std::string_view text, int64_t colour)
{
    plot_text_repeat_bold(x, y, static_cast<int64_t>(text.size()), colour_black);
    plot_text(x, y, text, colour);
}

}  // namespace

int64_t response_trace_y(float level, float mean, float pixels_per_db, float zero_db_y)
{
    // Rounding: all in float, then to nearest with ties to even. The clamp keeps
    // a NaN or infinite level (from a broken input) from becoming an undefined
    // conversion or an overflowing plot coordinate; it still lands off-window.
    const float y = std::nearbyint((level - mean) * pixels_per_db + zero_db_y);
    constexpr float far_off = 1.0e6f;
    if (!(y > -far_off))
        return -1000000;
    if (y > far_off)
        return 1000000;
    return static_cast<int64_t>(y);
}

// spectrum and the name stay unchanged until the next refresh, at least a
// second later.
void response_display(float* spectrum, int64_t buffer_size, const char* device_name)
{
    const response_scale& scale = response_scale_selected();
    const int64_t top = scale.window_height - 1;

    plot_fill_box(0, 0, response_window_width, scale.window_height, colour_black);

    for (int64_t y : scale.grid_levels)
        plot_line(0, y, 1024, y, colour_grid);
    for (int64_t x = 128; x <= 896; x += 128) {
        if (x % 256 == 128)
            plot_line_styled(x, 0, x, top, colour_grid, 0xAAAAAAAA);
        else
            plot_line(x, 0, x, top, colour_grid);
    }

    const float mean = mid_band_mean(spectrum);
    for (int64_t k = 0; k < 1024; k++) {
        const int64_t y = response_trace_y(spectrum[k], mean, scale.pixels_per_db, scale.zero_db_y);
        if (k == 0)
            rtresponse::trace_prev_y = y;
        plot_line(k - 1, rtresponse::trace_prev_y, k, y, colour_trace);
        rtresponse::trace_prev_y = y;
    }

    for (const frequency_label& label : frequency_labels) {
        plot_text_bold(label.x, frequency_label_y, label.text, colour_black);
        plot_text(label.x, frequency_label_y, label.text, colour_label);
    }

    for (const level_label& label : scale.level_labels)
        blanked_text(label.x, label.y, label.text, colour_label);

    // The name buffer is 512 bytes; a missing terminator cannot run past it.
    const std::string_view name =
        device_name ? std::string_view(device_name, strnlen(device_name, 512)) : std::string_view();
    blanked_text(2, 26, name, colour_readout);
    blanked_text(2, 16, "buffer size : " + std::to_string(buffer_size), colour_readout);
}
