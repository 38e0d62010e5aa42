// The long-run monitor's options: --monitor DURATION and the limits and files
// that go with it. Read as text by CLI11, then checked here like every number.
#pragma once
#include <cstdint>
#include <string>

struct monitor_settings {
    bool on = false;
    double duration_s = 0.0;      // 0: until Ctrl-C
    int64_t max_glitches = -1;    // -1: no limit
    double max_drift_ppm = -1.0;  // -1: no limit
    std::string save_dir;         // "": no snippets
};

// What the command line gave, before it is checked.
struct monitor_texts {
    std::string duration, max_glitches, max_drift;
};

// "30s", "10m" or "10min", "8h", "1h30m" (units largest first, each once),
// "90" (a bare number: seconds) or "0": seconds in duration_s. A duration is
// 0 (until Ctrl-C) or 1 s to 1000 h; "" or why not.
std::string monitor_duration_parse(const std::string& text, double& duration_s);

// Checks the texts into settings: "" or the reason, with the option's name.
std::string monitor_options_read(const monitor_texts& texts, monitor_settings& settings);
