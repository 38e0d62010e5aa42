// The response and impulse-response files in the format their names ask for:
// FRD for a response named *.frd, 32-bit float WAV for an impulse response
// named *.wav, CSV (files.hpp) for any other name.
#pragma once
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "loopcheck/report/report.hpp"
#include "writers/frd.hpp"

// Whether path ends with extension (".frd"), in any case.
bool files_named(std::string_view path, std::string_view extension);

// The FRD points of the rows: frequency, level and phase as they are (the CSV
// prints the same numbers rounded).
std::vector<frd_point> files_frd_points(std::span<const response_row> rows);
// The FRD's "*" comment lines: what was measured, how, and its low-SNR rows.
std::vector<std::string> files_frd_comments(const check_report& report);

// report.response_rows to options.response_file, report.ir to options.ir_file,
// each in its format. "" or the reason it cannot be written.
std::string files_write_response_named(const check_report& report);
std::string files_write_ir_named(const check_report& report);
