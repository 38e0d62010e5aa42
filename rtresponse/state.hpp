// The program-wide state of the real-time analyser (tessaly, orbisca), with
// the snapshot, work arrays and switches that morvane's analysis and display
// share with it. Everything here has a fixed value at program load.
#pragma once
#include <cstdint>

namespace rtresponse {

// One period of the sweep; built once before the stream exists, then read only
// by the callback. One spare element, as in every 2048-value array here.
extern float sweep_table[2049];
// Slot p holds the input captured in the call that played sweep_table[p].
// Touched by the callback alone.
extern float capture_ring[2049];
// Sweep position 0 .. 2047 of the latest call; advanced before use.
extern int64_t sweep_pos;
// 1 until the first callback has cleared the ring.
extern int64_t reset_pending;

// Written by the stream callback under the refresh handshake, read by
// response_analysis while the snapshot is frozen.
extern float display_snapshot[2049];
// FFT work arrays, owned by the main thread; after response_analysis,
// spectrum_re[0 .. 1023] holds the bin levels in dB.
extern float spectrum_re[2049];
extern float spectrum_im[2049];
// -1 at program load; set once from the "t" option before the stream opens.
// The software loopback runs only when it is 0.
extern int64_t loopback_mode;
// The buffer size that every refresh shows; set once at start-up.
extern int64_t response_buffer_frames;
// Display thread only: the previous trace point, set from each refresh's
// first point before use.
extern int64_t trace_prev_y;

// Every variable above back to its program-load value (tests).
void state_reset();

}  // namespace rtresponse
