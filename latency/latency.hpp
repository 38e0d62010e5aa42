// Karvel, the latency checker: the stream callback that identifies the loop
// from output 1 to input 1, and one refresh of its window.
#pragma once
#include <portaudio.h>

#include <cstdint>

// PortAudio stream callback: plays white noise on output 1 (silence on output
// 2), adapts a 2000-tap NLMS model of the loop from input 1 and publishes the
// taps in latency::display_snapshot while no refresh holds it. The very first
// frame only clears the filter and plays silence. Real-time safe: no
// allocation, lock, print or wait. Always returns paContinue.
int latency_callback(const void* input, void* output, unsigned long frame_count,
                     const PaStreamCallbackTimeInfo* time_info, PaStreamCallbackFlags status_flags,
                     void* user_data);

// Draws one refresh of the 1001 x 201 window from latency::display_snapshot:
// grid, axis labels, device name, buffer size, peak value and position, and
// the first 1001 taps as a trace. overwrite == -1 clears the window first.
void latency_display(int64_t buffer_size, int64_t overwrite, const char* device_name);
