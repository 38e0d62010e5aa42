// One size's session as a row of the sweep's table, and the sweep's end.
#include "loopcheck/verdict/sweep_rows.hpp"

#include "loopcheck/verdict/verdict.hpp"

namespace {

// The latency's figures, where they stood.
void row_latency(sweep_row& row, const check_report& r)
{
    const run_statistics s = outcome_statistics(r);
    row.measured = true;
    row.latency_frames = s.mean, row.uncertainty_frames = s.uncertainty;
    row.runs = static_cast<int64_t>(r.runs.size());
    row.excess_known = outcome_reported_known(r);
    row.excess_frames = row.excess_known ? s.mean - outcome_reported_frames(r) : 0.0;
}

// The soak's counts, where it ran to its end.
void row_soak(sweep_row& row, const check_report& r)
{
    const monitor_progress& p = r.monitor_end;
    const bool whole = r.watch.failure != check_status::interrupted && r.watch.failure != check_status::error;
    row.soaked = r.watch.ran && whole;
    row.found = row.soaked && p.summary.aligned;
    row.soak_s = p.rate > 0.0 ? static_cast<double>(p.summary.frames_checked) / p.rate : 0.0;
    row.by_kind = p.summary.by_kind;
    row.glitches = p.summary.events + p.overruns;
    row.xruns = p.xruns;
    if (!r.watch.ran)
        row.reason = "not soaked: " + (r.watch.reason.empty() ? std::string("it never began") : r.watch.reason);
    else if (!whole)
        row.reason = "the soak ended early: " + r.watch.reason;
    else if (!row.found)
        row.reason =
            "the stimulus never came back recognisably: the loop glitched before the monitor could "
            "follow it";
}

}  // namespace

sweep_row sweep_row_of(const check_report& r, int64_t requested, int64_t server)
{
    sweep_row row;
    row.requested = requested;
    row.rate = r.rate;
    row.granted = server > 0 ? server : r.buffer_granted;
    const check_verdict v = verdict_judge(r);
    if (!v.measured) {
        row.failure = v.status;
        row.reason = v.message.empty() ? std::string(check_status_of(v.status).text) : v.message;
        return row;
    }
    row_latency(row, r);
    row_soak(row, r);
    return row;
}

mode_end sweep_end_of(const sweep_facts& f, bool interrupted, const mode_end& first_failure)
{
    mode_end end;
    end.ran = true;
    bool any_set = false, any_measured = false;
    for (const sweep_row& row : f.rows)
        any_set = any_set || !row.refused, any_measured = any_measured || row.measured;
    if (interrupted) {
        end.failure = check_status::interrupted;
        end.reason = "interrupted; the table holds the sizes measured";
    } else if (!f.rows.empty() && !any_set) {
        end.failure = check_status::error;
        end.reason = "cannot change the buffer size: " + f.rows.front().reason;
    } else if (!f.rows.empty() && !any_measured && first_failure.failure != check_status::ok) {
        end.failure = first_failure.failure;
        end.reason = first_failure.reason;
    }
    return end;
}
