// Shared by the response programs (tessaly, orbisca, morvane): the published
// 2048-value snapshot, the FFT work arrays, the loopback switch, and the
// analysis and display of one refresh.
#pragma once
#include <cstdint>

// Written by the stream callback under the refresh handshake, read by
// response_analysis while the snapshot is frozen. One spare element.
extern float display_snapshot[2049];
// FFT work arrays, owned by the main thread; after response_analysis,
// spectrum_re[0 .. 1023] holds the bin levels in dB.
extern float spectrum_re[2049];
extern float spectrum_im[2049];
// -1 at program load; set once from the "t" option before the stream opens.
// The software loopback runs only when it is 0.
extern int64_t loopback_mode;

// Snapshot -> forward FFT -> 10 log10(power + 1e-19) for bins 0 .. 1023.
void response_analysis();
// One refresh of the window from the levels in spectrum (started on its own thread).
// Draws with the scale chosen by response_scale_select (rtresponse/scale.hpp).
void response_display(float* spectrum, int64_t buffer_size, const char* device_name);

// The plot row of one trace point: (level - mean) * pixels_per_db + zero_db_y in
// float, rounded to nearest with ties to even. Non-finite or absurdly distant
// results are held at +-1e6 rows, far outside any window.
int64_t response_trace_y(float level, float mean, float pixels_per_db, float zero_db_y);

// Snapshot, work arrays and loopback switch back to their program-load values (tests).
void response_shared_reset();
