// One step of a normalised-LMS adaptive FIR filter over a doubled delay line
// (dsp/vector.hpp): it predicts a captured sample from the newest stimulus
// samples and adapts its taps by the prediction error, scaled by a running
// mean square of the stimulus. All state belongs to the caller.
#pragma once
#include <cstdint>

// Pushes stimulus into history (length samples, position history_pos) and
// predicts captured as the dot product with taps; then, in double precision
// and each stored as float:
//   power = power_memory * power + (1 - power_memory) * stimulus^2
//   step  = (captured - prediction) * step_constant / power   (the new power)
// and adds step times the same history window to the taps (update_pos). A
// non-finite captured sample (a broken driver) counts as silence: it would
// otherwise turn every tap into NaN for the rest of the run.
// Runs on the audio thread: no allocation, lock or wait.
void nlms_step(float stimulus, float captured, float* history, float* taps, int64_t length, int64_t& history_pos,
               int64_t& update_pos, float& power, double power_memory, double step_constant);

// Empties history and taps (the doubled history and the spare elements too);
// positions and power keep their values. Real-time safe.
void nlms_clear(float* history, float* taps, int64_t length);

// The filter's program-load state: history and taps all zero (the doubled
// history and the spare elements too), both positions 0, power 1.
void nlms_reset(float* history, float* taps, int64_t length, int64_t& history_pos, int64_t& update_pos, float& power);
