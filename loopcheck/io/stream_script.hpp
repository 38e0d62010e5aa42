// A stream that no device drives: its callback is run cycle by cycle by
// whoever holds it, on the main thread. The tests' scripted loops answer what
// it plays with what a cable, a late server or a dropout would bring back,
// and the session's own tests run scripted modes on it.
#pragma once
#include <cstdint>
#include <string>

#include "loopcheck/io/stream.hpp"

// A scripted stream of the request's loops at rate, opened and named
// "scripted" (its host API, its devices), its channels as many as the
// request's highest; with clock, a JACK server's frame counter beside it
// (stream_script_cycle's server_frames), for the missed-cycle check.
stream_ptr stream_script_open(const stream_request& request, double rate, bool clock);
// One loop, on channel 1 both ways.
stream_ptr stream_script_open(double rate, bool clock);

// The frame the clip scheduled last starts at, and that clip (-1 for none).
int64_t stream_script_next_start(const stream& s);
int stream_script_next_clip(const stream& s);

// One call of the callback: frames of in (the stream's input channels
// interleaved) handed to it, its output channels interleaved into out; xrun_flags as the host flagged the
// call (xrun_flag bits); server_frames, the server's frame counter at the
// cycle's start (when the stream has a clock).
void stream_script_cycle(stream& s, const float* in, float* out, int64_t frames, unsigned xrun_flags,
                         uint32_t server_frames = 0);
