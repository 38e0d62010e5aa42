// The measurement frame shared by the windowed programs: PortAudio start-up,
// device choice, the full-duplex stream, the key loop with its refresh
// handshake, and the shutdown.
#pragma once
#include <portaudio.h>

#include <cstdint>
#include <string_view>

#include "frame/stall.hpp"

// What differs between the programs.
struct measurement_frame {
    const char* client_name;          // the program's name, e.g. "karvel" (its JACK client name)
    PaStreamCallback* callback;       // one frame per call, on the audio thread
    double suggested_latency;         // seconds, for input and output alike
    void (*refresh)();                // inside the freeze: analysis, then thread_start of the display
    const char* stall_advice;         // what to try when a device (not JACK) delivers no frames
    void (*after_start)() = nullptr;  // after the stream has started, if set
    bool erase_keys = false;          // E and R clear the window
    // The key loop's waits; the programs keep these, tests shorten them.
    int64_t refresh_hold_ms = 800;  // the snapshot stays frozen at least this long per refresh
    int64_t pass_pause_ms = 200;    // after the refresh, before the pass reads its key
};

// The chosen device's name in the window font's character set, NUL-terminated;
// lives for the whole run and is handed to every display refresh.
extern char device_name_buffer[512];

// Runs the stream sequence, the key loop and the shutdown, then closes the
// window; every path after Pa_Initialize calls Pa_Terminate. Start-up failures
// print one "!!! " line in the window and one line on standard error
// (frame/failure.hpp), pause up to 3 s (a key cuts it short) and return 1;
// otherwise returns 0.
// A shutdown that PortAudio cannot finish (a JACK server that went away) is
// given up after a bounded wait: the window closes and the program ends with
// status 0 at once.
int frame_run(int64_t device_option, const measurement_frame& frame);

// The key loop alone (run by frame_run once the stream has started): a refresh
// about once a second while no snapshot copy is under way, one key per pass,
// E or R clearing the window where the frame asks for it, until Escape or Ctrl-C.
// A refresh's drawing thread that outlives the hold keeps the snapshot frozen
// until it ends, and no refresh starts while it runs.
void frame_key_loop(const measurement_frame& frame);

// Shows text in the window's top row whenever the stream has delivered no
// frames for a while (frame/stall.hpp), until they flow again; frame_run sets
// it for its stream. An empty text stops the watch. Stalls are judged over
// windows of window_ms (tests shorten it).
void frame_watch_stalls(std::string_view text, int64_t window_ms = stall_window_ms);
// True while the stall line is on screen.
bool frame_stalled();

// The open stream while frame_run runs it, else null.
extern PaStream* frame_stream;
