// The files by their names' extensions: FRD and WAV through writers/, CSV through files.cpp.
#include "loopcheck/report/files_formats.hpp"

#include <cmath>
#include <cstdio>

#include "loopcheck/report/files.hpp"
#include "writers/wav.hpp"

bool files_named(std::string_view path, std::string_view extension)
{
    if (path.size() <= extension.size())
        return false;
    // ASCII only, whatever the locale: "R.FRD" is FRD too.
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    const std::string_view tail = path.substr(path.size() - extension.size());
    for (size_t i = 0; i < tail.size(); i++)
        if (lower(tail[i]) != lower(extension[i]))
            return false;
    return true;
}

std::vector<frd_point> files_frd_points(std::span<const response_row> rows)
{
    std::vector<frd_point> points;
    points.reserve(rows.size());
    for (const response_row& row : rows)
        points.push_back({row.hz, row.level_db, row.phase_deg});
    return points;
}

std::vector<std::string> files_frd_comments(const check_report& r)
{
    char line[200];
    std::vector<std::string> comments = {
        "loopcheck " LOOPCABLE_VERSION ": the loop's response, output " + std::to_string(r.options.out_channel) +
        " to input " + std::to_string(r.options.in_channel) + ", device \"" + r.out_name + "\"" +
        (r.in_device == r.out_device ? "" : " to \"" + r.in_name + "\"") + " (" + r.host_api + ")"};
    std::snprintf(line, sizeof line,
                  "rate %.0f Hz, level %.1f dBFS; magnitude in dB relative to 1 kHz, phase in degrees "
                  "with the latency taken out",
                  r.rate, r.options.level_dbfs);
    comments.push_back(line);
    // FRD has no column for the SNR: the weak stretches are named here.
    size_t weak = 0, unknown = 0;
    for (const response_row& row : r.response_rows)
        weak += row.snr_db < response_snr_floor_db, unknown += std::isnan(row.snr_db);
    if (unknown > 0)
        comments.push_back("SNR not measured");
    else if (weak > 0) {
        std::snprintf(line, sizeof line,
                      "%zu of %zu points below %.0f dB SNR: trust them less (a .csv name gives each point's SNR)", weak,
                      r.response_rows.size(), response_snr_floor_db);
        comments.push_back(line);
    }
    comments.push_back("frequency_hz magnitude_db phase_deg");
    return comments;
}

std::string files_write_response_named(const check_report& r)
{
    const std::string& path = r.options.response_file;
    if (!files_named(path, ".frd"))
        return files_write_response(path, r.response_rows);
    const std::string problem = frd_write(path, files_frd_comments(r), files_frd_points(r.response_rows));
    return problem.empty() ? "" : "cannot write " + problem;
}

std::string files_write_ir_named(const check_report& r)
{
    const std::string& path = r.options.ir_file;
    if (!files_named(path, ".wav"))
        return files_write_ir(path, r.ir_first, r.ir);
    // The WAV's first frame is lag ir_first (the peak's lag less 256 frames at 48000 Hz).
    const std::vector<float> samples(r.ir.begin(), r.ir.end());
    const std::string problem = wav_write(path, std::lrint(r.rate), 1, samples);
    return problem.empty() ? "" : "cannot write " + problem;
}
