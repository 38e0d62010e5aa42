// The number formatters every renderer uses: one figure as printf writes it
// (never "-0.00"), a count and its noun, a latency with the decimals its
// uncertainty supports. A leaf: the report's frame and every mode's words
// include it, and it includes nothing of loopcheck's.
#pragma once
#include <cstdint>
#include <string>

// A figure as printf writes it (one number, words around it allowed), but
// never "-0.00": a tiny negative that rounds to zero is written as zero.
std::string report_figure(const char* pattern, double value);

// A count and its noun, one or many: "1 glitch", "3 glitches", "0 xruns".
std::string report_count(int64_t n, const char* one, const char* many);

// The latency and its uncertainty, with as many decimals as the uncertainty
// supports (at most three): "619.000 ± 0.0003", "619.00 ± 0.06", "359.0 ± 0.4".
std::string report_latency_text(double latency, double uncertainty);
