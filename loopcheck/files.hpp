// The files loopcheck writes beside its report: the response and the impulse
// response as CSV.
#pragma once
#include <cstdint>
#include <span>
#include <string>

#include "analysis/deconvolve.hpp"
#include "analysis/response.hpp"

// frequency_hz,level_db,phase_deg,snr_db with a header line first; rows under
// the SNR floor have "low snr" in a fifth column. False when it cannot be written.
bool response_write(const std::string& path, std::span<const response_row> rows);

// frame,value of the impulse response (as scaled for the peak) from 256 frames
// before the peak to 1024 after it (at 48000 Hz; more at higher rates).
bool ir_write(const std::string& path, const impulse_response& r, int64_t peak);
