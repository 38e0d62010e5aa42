// --save-glitches: each glitch's neighbourhood, 100 ms either side, as a WAV
// file, copied from the detector's own ring once it has been fed far enough.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/monitor.hpp"

inline constexpr size_t monitor_files_pending_max = 64;

struct monitor_files {
    std::string dir;  // "": none written
    double rate = 48000.0;
    std::array<monitor_event, monitor_files_pending_max> pending{};
    std::array<int64_t, monitor_files_pending_max> pending_index{};  // each one's number in its file's name
    size_t pending_count = 0;
    int64_t written = 0, skipped = 0;  // skipped: too many at once, or past the cap
    int64_t noted = 0;                 // events given a file's name so far
    int64_t cap = 1000;
    std::vector<float> snippet;  // sized once: 0.2 s
    std::string problem;         // the first file that could not be written
};

monitor_files monitor_files_make(const std::string& dir, double rate);

// Notes an event to be written once the detector holds 100 ms past it: the
// file's name it will have, or "" when none will be written.
std::string monitor_files_note(monitor_files& f, const monitor_event& e);

// Writes the noted events whose neighbourhood the detector now holds; with
// all, every one left (at the end, padded with zeros where the capture ended).
void monitor_files_write(monitor_files& f, const monitor_detector& d, bool all);

// The file's name: glitch-0001-12.345s-dropped.wav.
std::string monitor_files_name(int64_t index, const monitor_event& e, double rate);
