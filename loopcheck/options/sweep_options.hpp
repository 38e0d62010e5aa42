// The buffer sweep's options: --buffers LIST|all and what goes with it (the
// soak's length, the callback's load, the latency gate). Read as text by
// CLI11, then checked here like every number, before any device is touched.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

inline constexpr double sweep_default_soak_s = 10.0;

struct sweep_settings {
    bool on = false;
    bool all = false;            // --buffers all: every power of two the host grants
    std::vector<int64_t> sizes;  // in the order given, none twice
    double soak_s = sweep_default_soak_s;
    double load_percent = 0.0;     // of every period, while soaking
    double max_latency_ms = -1.0;  // -1: no gate
};

// What the command line gave, before it is checked.
struct sweep_texts {
    bool buffers_given = false;  // --buffers was on the line, even with nothing after it
    std::string buffers, soak, load, max_latency;
};

// "32,64,128" or "all": whole numbers of frames from 1 to 65536, none twice,
// at least one. "" or why not.
std::string sweep_sizes_parse(const std::string& text, sweep_settings& settings);

// Checks the texts into settings: "" or the reason, with the option's name.
std::string sweep_options_read(const sweep_texts& texts, sweep_settings& settings);
