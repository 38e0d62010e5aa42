// The buffer sweep's rows from each size's own session: the record of one
// size's latency and soak becomes the row a reviewer's table has for it.
#pragma once
#include <cstdint>

#include "loopcheck/verdict/check_report.hpp"

// The row of the size requested, from the session at that size. server: the
// JACK server's size during it, or 0 where the stream's own buffer was set
// (then the callback's buffer is what was granted).
sweep_row sweep_row_of(const check_report& size_report, int64_t requested, int64_t server);

// The sweep's end from its rows, once every size asked has run or the sweep
// was cut short: no size the host would set is an error (the host cannot
// change its size); no size measured takes the first size's failure; an
// interruption is the sweep's. The gate is the verdict's (verdict.hpp).
mode_end sweep_end_of(const sweep_facts& facts, bool interrupted, const mode_end& first_failure);
