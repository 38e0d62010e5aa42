// The monitor's data for the report.
#include "loopcheck/monitor/monitor_trace.hpp"

#include <algorithm>
#include <cmath>

monitor_trace monitor_trace_start(double rate)
{
    monitor_trace m;
    m.on = true, m.rate = rate;
    m.events.reserve(monitor_trace_listed);
    return m;
}

bool monitor_trace_delay_due(const monitor_trace& m, double t_s) { return t_s >= m.next_delay_s; }

void monitor_trace_delay(monitor_trace& m, double t_s, double frames)
{
    series_add(m.delay, t_s, frames);
    m.next_delay_s = (std::floor(t_s / monitor_trace_every_s) + 1.0) * monitor_trace_every_s;
}

void monitor_trace_glitch(monitor_trace& m, double t_s)
{
    series_marks_add(m.glitches, t_s);
    series_histogram_add(m.stretches, std::max(0.0, t_s - m.stretch_from));
    m.stretch_from = std::max(m.stretch_from, t_s);
}

void monitor_trace_event_add(monitor_trace& m, const monitor_event& e, const std::string& file)
{
    if (m.events.size() < monitor_trace_listed)
        m.events.push_back({e, file});
    else
        m.events_not_listed++;
}

void monitor_trace_end(monitor_trace& m, double t_s)
{
    m.checked_s = std::max(t_s, m.stretch_from);
    // A glitch at the very end leaves no stretch after it.
    if (m.checked_s > m.stretch_from || m.glitches.count == 0)
        series_histogram_add(m.stretches, m.checked_s - m.stretch_from);
}
