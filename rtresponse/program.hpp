// What the response programs (tessaly, orbisca, morvane) share around their
// stream: options, usage text and the refresh of the key loop.
#pragma once
#include <cstdint>
#include <string_view>

#include "frame/options.hpp"

// What the command line gives after the usage check.
struct response_options {
    int64_t device = -1;                  // -1: the first device of the chosen host API
    buffer_setting buffer{64, 0.001333};  // size after its fall-back (8 .. 2048) and its latency
};

// Reads options d and b (buffer sizes 8 .. 2048, else 64), then t into
// loopback_mode. option_set_args must have been called.
response_options response_options_read();

// Prints the eleven usage lines: heading (followed by the maker's notice), the
// -d/-b/-t option list and the example line; waits for a key and closes the
// window.
void response_usage_show(std::string_view heading, std::string_view example);

// One refresh inside the freeze: response_analysis on the main thread, then
// response_display on a thread of its own with spectrum_re,
// response_buffer_frames and the device name.
void response_refresh();
