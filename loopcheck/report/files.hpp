// The files loopcheck writes beside its report: the response and the impulse
// response as CSV.
#pragma once
#include <cstdint>
#include <span>
#include <string>

#include "analysis/response.hpp"

// Whether path can be written, tried before measuring: "" or the reason. A
// file that was not there before is not left behind.
std::string files_check_writable(const std::string& path);

// The folder path with its parents, as mkdir -p makes them (nothing to do
// when it is there): "" or the reason, in the system's words.
std::string files_make_folder(const std::string& path);

// frequency_hz,level_db,phase_deg,snr_db with a header line first; rows under
// the SNR floor have "low snr" in a fifth column, rows whose noise was not
// measured an empty snr_db and "snr unknown". "" or the reason it cannot be written.
std::string files_write_response(const std::string& path, std::span<const response_row> rows);

// frame,value of the impulse response, its first value at lag first.
std::string files_write_ir(const std::string& path, int64_t first, std::span<const double> values);
