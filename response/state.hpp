// Morvane's program-wide state: the 2048-tap normalised-LMS model of the loop
// that the stream callback adapts, with its program-load values. The model's
// taps are published in rtresponse::display_snapshot (rtresponse/state.hpp),
// the snapshot, work arrays and loopback switch that morvane shares with the
// real-time analyser's analysis and display.
#pragma once
#include <cstdint>

namespace response {

inline constexpr int64_t tap_count = 2048;  // model length: lags 0 .. 2047 frames (42.67 ms)

// Audio thread only. Doubled ring of the last tap_count stimulus samples
// (see dsp/vector.hpp), plus one spare element that is never used.
extern float stimulus_history[2 * tap_count + 1];
extern int64_t history_pos;               // ring position of the prediction (delay_line_dot)
extern int64_t update_pos;                // ring position of the weight update (ring_axpy)
extern float tap_weights[tap_count + 1];  // tap k weights the stimulus k frames old; one spare
extern float stimulus_power;              // running mean square of the stimulus, starts at 1.0
extern int64_t reset_pending;             // 1 until the first callback has cleared the model

// Puts every variable above back to its program-load value (tests and benchmarks).
void response_reset_state();

}  // namespace response
