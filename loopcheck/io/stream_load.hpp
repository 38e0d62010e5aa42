// --load: the callback's own busy time, as a DAW's processing would take it.
// Each call stays busy until a share of its buffer's duration has passed
// since it began, so that the host sees a client that needs that share of
// every period. It spins on a clock and never sleeps: a sleeping callback
// would hand its time back to the machine, which load must not.
#pragma once
#include <cstdint>

// The busy time a call of frames owes at share (0 to 1) of real time, in ns.
int64_t stream_load_budget_ns(double share, int64_t frames, double rate);

// Reads clock until it stands budget_ns past start_ns; the time from start_ns
// to its last reading.
int64_t stream_load_spin(int64_t start_ns, int64_t budget_ns, int64_t (*clock)());

// The steady clock in ns: the callback's clock unless a test sets its own.
int64_t stream_load_clock_ns();
