// Start-up shared by the response programs, and the real-time analyser's whole
// program over a chosen scale (tessaly and orbisca are two mains over it).
#pragma once
#include <cstdint>
#include <string_view>

#include "frame/options.hpp"
#include "rtresponse/scale.hpp"

// What the command line gives after the usage check.
struct response_options {
    int64_t device = -1;            // -1: the first device of the ASIO host API
    buffer_setting buffer{64, 0.001333};  // size after its fall-back (8 .. 2048) and its latency
};

// First line of the analysers' usage text (the maker's notice follows it).
inline constexpr std::string_view analyser_usage_heading =
    "ASIO realtime frequency response measurement program, ";

// Reads options d and b (buffer sizes 8 .. 2048, else 64), then t into
// loopback_mode. option_set_args must have been called.
response_options response_options_read();

// Prints the eleven usage lines (heading + maker's notice, the -d/-b/-t option
// list, the example line), waits for a key and closes the window.
void response_usage_show(std::string_view heading, std::string_view example);

// Title, window (1025 wide, as high as the selected scale), usage check, options.
// Returns false when the usage text was shown; the program then ends with status 0.
bool response_startup(int argc, char** argv, std::string_view title, std::string_view usage_heading,
                      std::string_view usage_example, response_options& options);

// The buffer size that every refresh shows; set once at start-up.
extern int64_t response_buffer_frames;

// One refresh inside the freeze: response_analysis, then response_display on a
// new thread with spectrum_re, response_buffer_frames and the device name.
void response_refresh();

// The real-time analyser from start-up to exit with the given scale; returns the
// exit status.
int analyser_run(int argc, char** argv, response_scale_id scale);
