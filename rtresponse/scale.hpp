// The level scales of the response display, side by side: Tessaly's +1 .. -2 dB
// at 100 pixels per dB in a 1025 x 301 window, Orbisca's +-30 dB at 10 pixels
// per dB in a 1025 x 601 window. One is selected at start-up.
#pragma once
#include <cstdint>
#include <span>
#include <string_view>

// A text at the right edge, first blanked with a bar as wide as the text.
struct level_label {
    std::string_view text;
    int64_t x;
    int64_t y;
};

struct response_scale {
    int64_t window_height;                 // also the clearing box; the vertical grid runs to y = height - 1
    std::span<const int64_t> grid_levels;  // horizontal grid lines, in plot rows
    float pixels_per_db;                   // trace y = (level - mean) * pixels_per_db + zero_db_y
    float zero_db_y;
    std::span<const level_label> level_labels;
};

inline constexpr int64_t response_window_width = 1025;

inline constexpr int64_t tessaly_grid_levels[] = {100, 200};
inline constexpr level_label tessaly_level_labels[] = {
    {"1dB", 998, 290},
    {"0dB", 998, 196},
    {"-1dB", 990, 96},
};
inline constexpr int64_t orbisca_grid_levels[] = {100, 200, 300, 400, 500};
inline constexpr level_label orbisca_level_labels[] = {
    {"30dB", 990, 590}, {"20dB", 990, 496},  {"10dB", 990, 396},
    {"0dB", 998, 296},  {"-10dB", 982, 196}, {"-20dB", 982, 96},
};

enum response_scale_id { scale_tessaly = 0, scale_orbisca = 1 };

inline constexpr response_scale response_scales[] = {
    {301, tessaly_grid_levels, 100.0f, 200.0f, tessaly_level_labels},
    {601, orbisca_grid_levels, 10.0f, 300.0f, orbisca_level_labels},
};

// Chooses the scale for the rest of the run (once, before any refresh starts);
// returns it. Tessaly's is in force until then.
const response_scale& response_scale_select(response_scale_id id);
// The scale in force.
const response_scale& response_scale_selected();
