// The sweep's rows: which is safe, and the smallest safe one.
#include "loopcheck/outcome/sweep.hpp"

bool sweep_row_safe(const sweep_row& r)
{
    return !r.refused && r.measured && r.soaked && r.found && r.glitches == 0 && r.xruns == 0;
}

double sweep_row_ms(const sweep_row& r) { return r.rate > 0.0 ? 1000.0 * r.latency_frames / r.rate : 0.0; }

const sweep_row* sweep_smallest_safe(const sweep_facts& f)
{
    const sweep_row* best = nullptr;
    for (const sweep_row& r : f.rows)
        if (sweep_row_safe(r) && (!best || r.granted < best->granted))
            best = &r;
    return best;
}
