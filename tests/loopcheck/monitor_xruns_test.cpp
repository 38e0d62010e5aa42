// The stream's log as incidents: a missed cycle and the call flagged for it
// are one xrun, whichever the log wrote first, and the incidents go out in
// time order; two flagged calls, or two missed cycles, stay two.
#include <gtest/gtest.h>

#include <vector>

#include "loopcheck/io/stream.hpp"
#include "loopcheck/monitor/monitor_xruns.hpp"

namespace {

constexpr int64_t buffer = 256;
constexpr unsigned flagged = xrun_input_overflow | xrun_output_underflow;
constexpr unsigned missed = xrun_missed_cycle;

}  // namespace

TEST(LoopcheckMonitorXruns, AMissedCycleAndItsFlaggedCallAreOneIncident)
{
    struct row {
        const char* name;
        std::vector<monitor_xrun_entry> log;  // in the log's order
        std::vector<int64_t> frames;          // the incidents' frames, in time order
    };
    // Seven incidents as the log holds them: the flagged call on the call
    // after the gap written first, its missed cycle marked some calls later.
    std::vector<monitor_xrun_entry> seven;
    for (int64_t k = 0; k < 7; k++) {
        const int64_t gap = 10000 + 5000 * k;
        seven.push_back({gap + buffer, flagged});
        seven.push_back({gap, missed});
    }
    const row rows[] = {
        {"seven incidents, each a missed cycle and the next call flagged",
         seven,
         {10000, 15000, 20000, 25000, 30000, 35000, 40000}},
        {"the flagged call at the gap's own frame", {{5000, flagged}, {5000, missed}}, {5000}},
        {"the missed cycle logged first", {{5000, missed}, {5000 + buffer, flagged}}, {5000}},
        {"two flagged calls in a row: two", {{5000, flagged}, {5000 + buffer, flagged}}, {5000, 5000 + buffer}},
        {"two missed cycles a call apart: two", {{5000, missed}, {5000 + buffer, missed}}, {5000, 5000 + buffer}},
        {"a flagged call two calls after the gap: two",
         {{5000 + 2 * buffer, flagged}, {5000, missed}},
         {5000, 5000 + 2 * buffer}},
        {"a missed cycle with a flagged call either side: the earlier joins it",
         {{5000 - buffer, flagged}, {5000 + buffer, flagged}, {5000, missed}},
         {5000 - buffer, 5000 + buffer}},
    };
    for (const row& x : rows) {
        SCOPED_TRACE(x.name);
        // All at once, and as a run sees them: entry by entry with the log final up to each.
        for (const bool all : {true, false}) {
            monitor_xruns xr;
            std::vector<monitor_xrun_entry> out;
            for (const monitor_xrun_entry& e : x.log) {
                monitor_xruns_add(xr, e);
                if (!all)
                    monitor_xruns_take(xr, e.frame - 4 * buffer, buffer, false, out);
            }
            EXPECT_EQ(monitor_xruns_count(xr, buffer), static_cast<int64_t>(x.frames.size()));
            monitor_xruns_take(xr, 0, buffer, true, out);
            ASSERT_EQ(out.size(), x.frames.size());
            for (size_t i = 0; i < out.size(); i++)
                EXPECT_EQ(out[i].frame, x.frames[i]) << i;
            EXPECT_EQ(monitor_xruns_count(xr, buffer), static_cast<int64_t>(x.frames.size()));
        }
    }
}
