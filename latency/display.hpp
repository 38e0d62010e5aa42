// One refresh of Karvel's window.
#pragma once
#include <cstdint>

// Draws one refresh of the 1001 x 201 window from latency::display_snapshot:
// grid, axis labels, device name, buffer size, peak value and position, and
// the first 1001 taps as a trace. overwrite == -1 clears the window first.
void latency_display(int64_t buffer_size, int64_t overwrite, const char* device_name);
