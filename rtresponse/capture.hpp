// The analyser's stream callback: a periodic flat-spectrum sweep played on
// output 1 and a ring of captured input samples kept in step with it.
#pragma once
#include <portaudio.h>

// One frame per call. Plays the sweep on output 1 and silence on output 2,
// captures input 1 (or, with loopback_mode 0, the sweep through delay2 and
// highpass_biquad) and publishes the ring. Real-time safe.
int analyser_callback(const void* input, void* output, unsigned long frame_count,
                      const PaStreamCallbackTimeInfo* time_info, PaStreamCallbackFlags status_flags, void* user_data);
