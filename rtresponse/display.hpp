// One refresh of the response window (tessaly, orbisca, morvane).
#pragma once
#include <cstdint>

// Draws the levels in spectrum[0 .. 1023] relative to their mean over bins
// 100 .. 923, with grid, labels and read-outs, on the scale chosen by
// response_scale_select. Started on a thread of its own for every refresh.
void response_display(float* spectrum, int64_t buffer_size, const char* device_name);

// The plot row of one trace point: (level - mean) * pixels_per_db + zero_db_y in
// float, rounded to nearest with ties to even. Non-finite or absurdly distant
// results are held at +-1e6 rows, far outside any window.
int64_t response_trace_y(float level, float mean, float pixels_per_db, float zero_db_y);
