// Karvel's stream callback: white noise on output 1 and the 2000-tap NLMS
// identification of the loop from output 1 to input 1.
#pragma once
#include <portaudio.h>

// PortAudio stream callback: plays white noise on output 1 (silence on output
// 2), adapts a 2000-tap NLMS model of the loop from input 1 and publishes the
// taps in latency::display_snapshot while no refresh holds it. The very first
// frame only clears the filter and plays silence. Real-time safe: no
// allocation, lock, print or wait. Always returns paContinue.
int latency_callback(const void* input, void* output, unsigned long frame_count,
                     const PaStreamCallbackTimeInfo* time_info, PaStreamCallbackFlags status_flags, void* user_data);
