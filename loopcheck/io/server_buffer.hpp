// The JACK server's buffer size, read and set through a client of
// loopcheck's own ("loopcheck-size"), for the buffer sweep. The size is the
// whole server's: every client runs at it. The sweep puts the size it found
// back on every way out (server_buffer_close does it).
#pragma once
#include <cstdint>
#include <string>

struct server_buffer;

// The client on a running JACK server; nullptr when none answers (then the
// stream's own buffer is what the sweep sets, stream by stream).
server_buffer* server_buffer_open();

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
