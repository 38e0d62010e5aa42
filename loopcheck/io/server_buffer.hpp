// The JACK server's buffer size, read and set through a client of
// loopcheck's own ("loopcheck-size"), for the buffer sweep. The size is the
// whole server's: every client runs at it. The sweep puts the size it found
// back on every way out (server_buffer_close does it). On PipeWire's JACK
// face, where a forced quantum overrules the size a client asks for, the
// session's settings are asked too (clock.force-quantum), and put back.
//
// The seam's calls of the server are a backend of functions, JACK's and
// pw-metadata's on a POSIX system (server_buffer_posix.cpp), so that a test
// can stand a fake server in their place.
#pragma once
#include <cstdint>
#include <string>

struct server_buffer;

struct server_buffer_backend {
    void* (*open)() = nullptr;  // the server's client, active; nullptr when no server answers
    int64_t (*size)(void* client) = nullptr;
    int (*set)(void* client, int64_t frames) = nullptr;  // 0 when the server took the request
    void (*close)(void* client) = nullptr;
    // PipeWire's settings: the forced quantum ("0" for none; "" when they cannot
    // be read, as where there is no PipeWire), and forcing one (false when it cannot).
    std::string (*forced_quantum)() = nullptr;
    bool (*force_quantum)(const std::string& frames) = nullptr;
    // The clock the waits read and the pause between their looks.
    int64_t (*now_ms)() = nullptr;
    void (*pause_ms)(int64_t ms) = nullptr;
};

// The machine's own: JACK and pw-metadata (a backend that finds no server on Windows).
const server_buffer_backend& server_buffer_system();

// The client on a running server; nullptr when none answers (then the
// stream's own buffer is what the sweep sets, stream by stream).
server_buffer* server_buffer_open(const server_buffer_backend& backend = server_buffer_system());

// The size the server runs at now, in frames.
int64_t server_buffer_size(const server_buffer* b);

// The size it ran at when opened: what close puts back.
int64_t server_buffer_original(const server_buffer* b);

// Asks the server for frames and waits, at most 3 s, until it runs at them;
// the size it runs at then (another when it refused or rounded). "" in
// problem, or the server's refusal.
int64_t server_buffer_set(server_buffer* b, int64_t frames, std::string& problem);

// Puts the original size back (when it was changed) and closes the client;
// "" or why the size could not be put back.
std::string server_buffer_close(server_buffer* b);
