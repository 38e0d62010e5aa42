// The stream's log folded into incidents.
#include "loopcheck/monitor/monitor_xruns.hpp"

#include <algorithm>

#include "loopcheck/io/stream.hpp"

namespace {

bool missed(const monitor_xrun_entry& e) { return (e.what & xrun_missed_cycle) != 0; }

// Whether b is a's partner: one a missed cycle, the other a flagged call, within buffer frames.
bool partners(const monitor_xrun_entry& a, const monitor_xrun_entry& b, int64_t buffer)
{
    return missed(a) != missed(b) && b.frame - a.frame <= buffer;
}

// The pending entries in time order (a flagged call before the missed cycle at its frame).
void order(std::vector<monitor_xrun_entry>& v)
{
    std::stable_sort(v.begin(), v.end(),
                     [](const monitor_xrun_entry& a, const monitor_xrun_entry& b) { return a.frame < b.frame; });
}

}  // namespace

void monitor_xruns_add(monitor_xruns& x, monitor_xrun_entry e) { x.pending.push_back(e); }

void monitor_xruns_take(monitor_xruns& x, int64_t final, int64_t buffer, bool all, std::vector<monitor_xrun_entry>& out)
{
    order(x.pending);
    size_t i = 0;
    while (i < x.pending.size()) {
        monitor_xrun_entry e = x.pending[i];
        // Its partner may yet be marked up to buffer frames after it.
        if (!all && e.frame + buffer >= final)
            break;
        size_t used = 1;
        if (i + 1 < x.pending.size() && partners(e, x.pending[i + 1], buffer))
            e.what |= x.pending[i + 1].what, used = 2;
        out.push_back(e);
        x.incidents++;
        i += used;
    }
    x.pending.erase(x.pending.begin(), x.pending.begin() + static_cast<std::ptrdiff_t>(i));
}

int64_t monitor_xruns_count(const monitor_xruns& x, int64_t buffer)
{
    std::vector<monitor_xrun_entry> v = x.pending;
    order(v);
    int64_t n = x.incidents;
    for (size_t i = 0; i < v.size(); i++, n++)
        if (i + 1 < v.size() && partners(v[i], v[i + 1], buffer))
            i++;
    return n;
}
