// The glitches' WAV files.
#include "loopcheck/monitor/monitor_files.hpp"

#include <cmath>
#include <cstdio>

#include "writers/wav.hpp"

monitor_files monitor_files_make(const std::string& dir, double rate)
{
    monitor_files f;
    f.dir = dir, f.rate = rate;
    f.snippet.assign(static_cast<size_t>(2 * std::lrint(0.1 * rate)), 0.0f);
    return f;
}

std::string monitor_files_note(monitor_files& f, const monitor_event& e)
{
    if (f.dir.empty())
        return "";
    if (f.pending_count == f.pending.size() || f.noted >= f.cap) {
        f.skipped++;
        return "";
    }
    f.pending_index[f.pending_count] = ++f.noted;
    f.pending[f.pending_count++] = e;
    return monitor_files_name(f.noted, e, f.rate);
}

std::string monitor_files_name(int64_t index, const monitor_event& e, double rate)
{
    char name[96];
    std::snprintf(name, sizeof name, "glitch-%04lld-%.3fs-%s.wav", static_cast<long long>(index),
                  static_cast<double>(e.frame) / rate, monitor_kind_name(e.kind));
    return name;
}

void monitor_files_write(monitor_files& f, const monitor_detector& d, bool all)
{
    const int64_t half = static_cast<int64_t>(f.snippet.size()) / 2;
    size_t kept = 0;
    for (size_t i = 0; i < f.pending_count; i++) {
        const monitor_event& e = f.pending[i];
        const int64_t index = f.pending_index[i];
        if (!all && monitor_frames_fed(d) < e.frame + half) {
            f.pending_index[kept] = index;
            f.pending[kept++] = e;
            continue;
        }
        monitor_capture_copy(d, e.frame - half, f.snippet);
        const std::string path = f.dir + "/" + monitor_files_name(index, e, f.rate);
        const std::string problem = wav_write(path, std::lrint(f.rate), 1, f.snippet);
        if (problem.empty())
            f.written++;
        else if (f.problem.empty())
            f.problem = problem;
    }
    f.pending_count = kept;
}
