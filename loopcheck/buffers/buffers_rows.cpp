// The sweep's rows and its end: which row is safe, the smallest safe one,
// and the judgement of the whole.
#include <cstdio>

#include "loopcheck/buffers/buffers.hpp"

bool buffers_row_safe(const buffers_row& r)
{
    return !r.refused && r.measured && r.soaked && r.found && r.judged && r.glitches == 0 && r.xruns == 0;
}

double buffers_row_ms(const buffers_row& r) { return r.rate > 0.0 ? 1000.0 * r.latency_frames / r.rate : 0.0; }

const buffers_row* buffers_smallest_safe(const buffers_outcome& o)
{
    const buffers_row* best = nullptr;
    for (const buffers_row& r : o.rows)
        if (buffers_row_safe(r) && (!best || r.granted < best->granted))
            best = &r;
    return best;
}

mode_end buffers_end_of(const buffers_outcome& o, bool interrupted, const mode_end& first_failure)
{
    mode_end end;
    end.ran = true;
    bool any_set = false, any_measured = false;
    for (const buffers_row& row : o.rows)
        any_set = any_set || !row.refused, any_measured = any_measured || row.measured;
    if (interrupted) {
        end.failure = check_status::interrupted;
        end.reason = "interrupted; the table holds the sizes measured";
    } else if (!o.rows.empty() && !any_set) {
        end.failure = check_status::error;
        end.reason = "cannot change the buffer size: " + o.rows.front().reason;
    } else if (!o.rows.empty() && !any_measured && first_failure.failure != check_status::ok) {
        end.failure = first_failure.failure;
        end.reason = first_failure.reason;
    }
    if (end.failure == check_status::ok && first_failure.failure == check_status::error)
        end.failure = check_status::error, end.reason = first_failure.reason;
    if (!o.restore_problem.empty())
        end.failure = check_status::error, end.reason += (end.reason.empty() ? "" : "; ") + o.restore_problem;
    return end;
}

mode_judgement buffers_judge(const buffers_outcome& o)
{
    mode_judgement j;
    check_end(j, "buffers", o.end);
    // Each size a record: glitches at a size are its data, not a failure of the run.
    for (const buffers_row& row : o.rows) {
        mode_check c;
        c.name = "buffer " + std::to_string(row.requested);
        if (row.measured)
            c.value = buffers_row_ms(row), c.unit = "ms", c.direction = check_direction::lower;
        c.result = buffers_row_safe(row) ? check_result::pass : row.refused ? check_result::skip : check_result::fail;
        j.checks.push_back(c);
    }
    // The gate: a safe size within --max-latency-ms.
    const double most = o.plan.max_latency_ms;
    if (!o.end.ran || o.end.failure != check_status::ok || most < 0.0)
        return j;
    for (const buffers_row& row : o.rows)
        if (buffers_row_safe(row) && buffers_row_ms(row) <= most)
            return j;
    const buffers_row* safe = buffers_smallest_safe(o);
    char text[200];
    if (safe)
        std::snprintf(text, sizeof text,
                      "no glitch-free buffer within --max-latency-ms %g: the smallest safe, %lld frames, has a "
                      "round trip of %.3f ms",
                      most, static_cast<long long>(safe->granted), buffers_row_ms(*safe));
    else
        std::snprintf(text, sizeof text, "no glitch-free buffer within --max-latency-ms %g: no size was glitch-free",
                      most);
    mode_check gate = check_failed("max_latency_ms", check_status::max_latency, text);
    gate.max = most, gate.unit = "ms", gate.direction = check_direction::lower;
    if (safe)
        gate.value = buffers_row_ms(*safe);
    j.checks.push_back(gate);
    return j;
}
