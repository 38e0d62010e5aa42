// Karvel's program-wide state: the adaptive filter owned by the audio callback,
// the snapshot it publishes for the display, and the display's trace position.
#pragma once
#include <cstdint>

namespace latency {

inline constexpr int64_t tap_count = 2000;  // filter length: delays 0 .. 1999 frames

// Audio thread only. Doubled ring of the last tap_count stimulus samples
// (see dsp/vector.hpp), plus one spare element that is never used.
extern float stimulus_history[2 * tap_count + 1];
extern int64_t history_pos;               // ring position of the prediction (delay_line_dot)
extern int64_t update_pos;                // ring position of the weight update (ring_axpy)
extern float tap_weights[tap_count + 1];  // w[k] weights the stimulus k frames old
extern float stimulus_power;              // running mean square of the stimulus
extern int64_t reset_pending;             // 1 until the first callback has cleared the filter

// Written by the callback while snapshot_frozen is 0, read by the display while
// it is 1 (frame/handshake.hpp); the handshake's atomics order the accesses.
extern float display_snapshot[tap_count + 1];

// Display thread only: height of the previous trace column.
extern int64_t trace_prev_y;
// Display thread only: characters of the text last drawn on each read-out line
// (device name, buffer size, peak value, peak position).
extern int64_t readout_length[4];

// Puts every variable above back to its program-load value (tests and benchmarks).
void latency_reset_state();

}  // namespace latency
