// Morvane's stream callback: white noise on output 1 and the 2048-tap
// normalised-LMS model of the loop from output 1 back to input 1, adapted one
// frame at a time.
#pragma once
#include <portaudio.h>

// PortAudio stream callback: plays white noise on output 1 (silence on output
// 2), fits the model to input 1 (or, with loopback_mode 0, to the stimulus sent
// through delay2 and highpass_biquad) and publishes the taps while no refresh
// holds the snapshot. The very first frame only clears the model and plays
// silence. Real-time safe: no allocation, lock, print or wait. Always returns
// paContinue.
int response_callback(const void* input, void* output, unsigned long frame_count,
                      const PaStreamCallbackTimeInfo* time_info, PaStreamCallbackFlags status_flags, void* user_data);
