// One refresh of Karvel's window: grid, axis labels, read-outs and the trace of
// the published impulse response. Runs on a display thread of its own.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "display/display.hpp"
#include "display/plot.hpp"
#include "latency/display.hpp"
#include "latency/state.hpp"

namespace {

using namespace latency;

constexpr int64_t window_width = 1001;
constexpr int64_t window_height = 201;
constexpr int64_t trace_columns = 1001;  // taps 0 .. 1000, one pixel column each
constexpr int64_t zero_line = 100;
constexpr double trace_scale = 85.0;      // the largest tap lands 85 px off the zero line
constexpr double trace_threshold = 0.01;  // no trace at or below this peak magnitude
constexpr double frames_per_ms = 48.0;    // 48000 Hz

struct axis_label {
    const char* text;
    int64_t x;
};

// Sample numbers along the top, one label per 100 taps.
constexpr axis_label sample_labels[] = {
    {"0", 2},     {"100", 89},  {"200", 189}, {"300", 289}, {"400", 389},  {"500", 489},
    {"600", 589}, {"700", 689}, {"800", 789}, {"900", 889}, {"1000", 968},
};
// The same columns as times at 48000 Hz, to 0.1 ms, along the bottom.
constexpr axis_label time_labels[] = {
    {"0ms", 2},      {"2.1ms", 90},   {"4.2ms", 190},  {"6.3ms", 290},  {"8.3ms", 390},  {"10.4ms", 482},
    {"12.5ms", 582}, {"14.6ms", 682}, {"16.7ms", 782}, {"18.8ms", 882}, {"20.8ms", 953},
};

// Dark grey zero line and nine verticals (none at the window's edges).
void draw_grid()
{
    plot_line(0, zero_line, window_width - 1, zero_line, colour_grid);
    for (int64_t x = 100; x <= 900; x += 100)
        plot_line(x, 0, x, window_height - 1, colour_grid);
}

// All labels in a black halo first, then all of them in light grey.
template <size_t count>
void draw_labels(const axis_label (&labels)[count], int64_t y)
{
    for (const axis_label& label : labels)
        plot_text_bold(label.x, y, label.text, colour_black);
    for (const axis_label& label : labels)
        plot_text(label.x, y, label.text, colour_label);
}

// Yellow read-out line on a black bar just as long as the text. In overwrite
// mode the window still holds the previous refresh's text, so the bar also
// covers that text when it was longer (a peak position of 1234 followed by one
// of 5 must not leave "s)" behind).
void draw_readout(int64_t line, int64_t overwrite, std::string_view text)
{
    const int64_t y = 46 - 10 * line;
    const int64_t length = static_cast<int64_t>(text.size());
    const int64_t bar = overwrite == -1 ? length : std::max(length, readout_length[line]);
    readout_length[line] = length;
    plot_text_repeat_bold(2, y, bar, colour_black);
    plot_text(2, y, text, colour_readout);
}

// Largest |w[k]| over all taps and its index; the strict comparison keeps the
// lowest index among equal magnitudes (and skips NaN).
void find_peak(float& magnitude, int64_t& index)
{
    magnitude = 0.0f;
    index = 0;
    for (int64_t k = 0; k < tap_count; k++) {
        const float m = std::fabs(display_snapshot[k]);
        if (magnitude < m) {
            magnitude = m;
            index = k;
        }
    }
}

// Plot row of a tap: nearest integer, ties to even (the current rounding mode
// of std::nearbyint). Finite peaks keep it within 15 .. 185; a value that is
// not finite (an infinite peak) stays on the zero line.
int64_t trace_row(float tap, float peak)
{
    const double y = static_cast<double>(tap) * trace_scale / static_cast<double>(peak) + zero_line;
    return std::isfinite(y) ? static_cast<int64_t>(std::nearbyint(y)) : zero_line;
}

// Taps 0 .. 1000 in light green, each column a vertical segment from the
// previous tap's height to its own.
void draw_trace(float peak)
{
    trace_prev_y = zero_line;
    if (!(static_cast<double>(peak) > trace_threshold))
        return;
    for (int64_t i = 0; i < trace_columns; i++) {
        const int64_t y = trace_row(display_snapshot[i], peak);
        plot_line(i, trace_prev_y, i, y, colour_trace);
        trace_prev_y = y;
    }
}

}  // namespace

// Number formats: "0" for the buffer size, "0.00" for the peak value and "0.0"
// for the peak time. printf rounds the exact binary value to nearest, and an
// exact tie (index 12: 0.25 ms) to even: "0.2".
void latency_display(int64_t buffer_size, int64_t overwrite, const char* device_name)
{
    if (overwrite == -1)
        plot_fill_box(0, 0, window_width, window_height, colour_black);
    draw_grid();
    draw_labels(sample_labels, 191);
    draw_labels(time_labels, 2);

    float peak = 0.0f;
    int64_t peak_index = 0;
    find_peak(peak, peak_index);

    char text[128];
    draw_readout(0, overwrite,
                 device_name ? std::string_view(device_name, strnlen(device_name, 511)) : std::string_view());
    std::snprintf(text, sizeof text, "buffer size : %" PRId64, buffer_size);
    draw_readout(1, overwrite, text);
    std::snprintf(text, sizeof text, "peak val    : %.2f", static_cast<double>(peak));
    draw_readout(2, overwrite, text);
    std::snprintf(text, sizeof text, "peak pos    : %" PRId64 " (%.1fms)", peak_index,
                  static_cast<double>(peak_index) / frames_per_ms);
    draw_readout(3, overwrite, text);

    sleep_ms(30);
    draw_trace(peak);
}
