// The real-time analyser's stimulus and capture: a periodic flat-spectrum sweep
// of 2048 samples played on output 1, and a ring of 2048 captured input samples
// kept in step with it, published for the key loop under the refresh handshake.
#pragma once
#include <portaudio.h>

#include <cstdint>

namespace rtresponse {

// One period of the sweep; built once before the stream exists, then read only
// by the callback. One spare element.
extern float sweep_table[2049];
// Slot p holds the input captured in the call that played sweep_table[p].
// Touched by the callback alone.
extern float capture_ring[2049];
// Sweep position 0 .. 2047 of the latest call; advanced before use.
extern int64_t sweep_pos;
// 1 until the first callback has cleared the ring.
extern int64_t reset_pending;

// Sweep, ring, position and clearing flag back to their program-load values (tests).
void analyser_reset();

}  // namespace rtresponse

// Builds sweep_table through spectrum_re / spectrum_im; the FFT tables must exist.
void build_sweep_table();

// The stream callback: one frame per call. Plays the sweep on output 1 and
// silence on output 2, captures input 1 (or, with loopback_mode 0, the sweep
// through delay2 and highpass_biquad) and publishes the ring. Real-time safe.
int analyser_callback(const void* input, void* output, unsigned long frame_count,
                      const PaStreamCallbackTimeInfo* time_info, PaStreamCallbackFlags status_flags,
                      void* user_data);
