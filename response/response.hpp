// Morvane's measurement: white noise on output 1 and a 2048-tap normalised-LMS
// model of the loop from output 1 back to input 1, adapted one frame at a time
// in the stream callback. The model's taps are published in display_snapshot
// (rtresponse/shared_response.hpp), where the response analysis of the real-time
// analyser turns them into the loop's magnitude response.
#pragma once
#include <portaudio.h>

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

// PortAudio stream callback: plays white noise on output 1 (silence on output
// 2), fits the model to input 1 (or, with loopback_mode 0, to the stimulus sent
// through delay2 and highpass_biquad) and publishes the taps while no refresh
// holds the snapshot. The very first frame only clears the model and plays
// silence. Real-time safe: no allocation, lock, print or wait. Always returns
// paContinue.
int response_callback(const void* input, void* output, unsigned long frame_count,
                      const PaStreamCallbackTimeInfo* time_info, PaStreamCallbackFlags status_flags,
                      void* user_data);
