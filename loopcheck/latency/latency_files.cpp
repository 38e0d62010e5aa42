// The latency's files, in the formats their names ask for: --response as
// FRD for a name ending .frd (through writers/), else CSV; --ir as 32-bit
// float WAV for a name ending .wav, else CSV.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "loopcheck/latency/latency.hpp"
#include "loopcheck/report/files.hpp"
#include "writers/frd.hpp"
#include "writers/wav.hpp"

#ifndef LOOPCABLE_VERSION
#error "LOOPCABLE_VERSION is the project's version, which CMake defines"
#endif

namespace {

std::string failed(const std::string& path, int error) { return "cannot write " + path + ": " + std::strerror(error); }

// Whether path ends with extension (".frd"), in any case.
bool named(std::string_view path, std::string_view extension)
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

// frequency_hz,level_db,phase_deg,snr_db with a header line first; rows under
// the SNR floor have "low snr" in a fifth column, rows whose noise was not
// measured an empty snr_db and "snr unknown".
std::string response_csv(const std::string& path, std::span<const response_row> rows)
{
    errno = 0;
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f)
        return failed(path, errno);
    std::fprintf(f, "frequency_hz,level_db,phase_deg,snr_db\n");
    for (const response_row& row : rows) {
        if (std::isnan(row.snr_db))
            std::fprintf(f, "%.4f,%.4f,%.3f,,snr unknown\n", row.hz, row.level_db, row.phase_deg);
        else
            std::fprintf(f, "%.4f,%.4f,%.3f,%.1f%s\n", row.hz, row.level_db, row.phase_deg, row.snr_db,
                         row.snr_db < response_snr_floor_db ? ",low snr" : "");
    }
    return std::fclose(f) == 0 ? "" : failed(path, errno);
}

// frame,value of the impulse response, its first value at lag first.
std::string ir_csv(const std::string& path, int64_t first, std::span<const double> values)
{
    errno = 0;
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f)
        return failed(path, errno);
    std::fprintf(f, "frame,value\n");
    for (size_t i = 0; i < values.size(); i++)
        std::fprintf(f, "%lld,%.9g\n", static_cast<long long>(first + static_cast<int64_t>(i)), values[i]);
    return std::fclose(f) == 0 ? "" : failed(path, errno);
}

// The FRD points of the rows: frequency, level and phase as they are (the CSV
// prints the same numbers rounded).
std::vector<frd_point> frd_points(std::span<const response_row> rows)
{
    std::vector<frd_point> points;
    points.reserve(rows.size());
    for (const response_row& row : rows)
        points.push_back({row.hz, row.level_db, row.phase_deg});
    return points;
}

// The FRD's "*" comment lines: what was measured, how, and its low-SNR rows.
std::vector<std::string> frd_comments(const latency_outcome& o)
{
    const stream_facts& f = o.facts;
    const std::vector<response_row>& rows = o.measured.response_rows;
    char line[200];
    std::vector<std::string> comments = {
        "loopcheck " LOOPCABLE_VERSION ": the loop's response, output " + std::to_string(o.plan.out_channels[0]) +
        " to input " + std::to_string(o.plan.in_channels[0]) + ", device \"" + f.out_name + "\"" +
        (f.in_device == f.out_device ? "" : " to \"" + f.in_name + "\"") + " (" + f.host_api + ")"};
    std::snprintf(line, sizeof line,
                  "rate %.0f Hz, level %.1f dBFS; magnitude in dB relative to 1 kHz, phase in degrees "
                  "with the latency taken out",
                  f.rate, o.plan.level_dbfs);
    comments.push_back(line);
    // FRD has no column for the SNR: the weak stretches are named here.
    size_t weak = 0, unknown = 0;
    for (const response_row& row : rows)
        weak += row.snr_db < response_snr_floor_db, unknown += std::isnan(row.snr_db);
    if (unknown > 0)
        comments.push_back("SNR not measured");
    else if (weak > 0) {
        std::snprintf(line, sizeof line,
                      "%zu of %zu points below %.0f dB SNR: trust them less (a .csv name gives each point's SNR)", weak,
                      rows.size(), response_snr_floor_db);
        comments.push_back(line);
    }
    comments.push_back("frequency_hz magnitude_db phase_deg");
    return comments;
}

std::string response_write(const latency_outcome& o)
{
    const std::string& path = o.plan.response_file;
    if (!named(path, ".frd"))
        return response_csv(path, o.measured.response_rows);
    const std::string problem = frd_write(path, frd_comments(o), frd_points(o.measured.response_rows));
    return problem.empty() ? "" : "cannot write " + problem;
}

std::string ir_write(const latency_outcome& o)
{
    const std::string& path = o.plan.ir_file;
    if (!named(path, ".wav"))
        return ir_csv(path, o.measured.ir_first, o.measured.ir);
    // The WAV's first frame is lag ir_first (the peak's lag less 256 frames at 48000 Hz).
    const std::vector<float> samples(o.measured.ir.begin(), o.measured.ir.end());
    const std::string problem = wav_write(path, std::lrint(o.facts.rate), 1, samples);
    return problem.empty() ? "" : "cannot write " + problem;
}

}  // namespace

std::string latency_files_ready(const latency_plan& p)
{
    for (const std::string* path : {&p.response_file, &p.ir_file}) {
        const std::string problem = path->empty() ? "" : files_check_writable(*path);
        if (!problem.empty())
            return problem;
    }
    return "";
}

std::string latency_files_write(const latency_outcome& o)
{
    std::string problem;
    if (!o.plan.response_file.empty())
        problem = response_write(o);
    if (problem.empty() && !o.plan.ir_file.empty())
        problem = ir_write(o);
    return problem;
}
