// What the tests of a simulated server share: its rate and period (the test
// rig's jackd -r 48000 -p 256), and its frame counter, which a test sets
// before each call of code that reads the server's clock.
#pragma once
#include <cstdint>

inline constexpr double rate = 48000.0;
inline constexpr int64_t period = 256;

inline uint32_t server_frames = 0;
inline uint32_t server_clock(void*) { return server_frames; }
