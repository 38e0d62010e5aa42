// The CSV writers, and the check that they will be able to write.
#include "loopcheck/report/files.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {

std::string failed(const std::string& path, int error) { return "cannot write " + path + ": " + std::strerror(error); }

}  // namespace

std::string files_make_folder(const std::string& path)
{
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error)
        return "cannot make the folder " + path + ": " + error.message();
    if (!std::filesystem::is_directory(path, error))
        return "cannot make the folder " + path + ": a file of that name is in the way";
    return "";
}

std::string files_check_writable(const std::string& path)
{
    std::error_code ignored;
    const bool existed = std::filesystem::exists(path, ignored);
    if (existed && std::filesystem::is_directory(path, ignored))
        return "cannot write " + path + ": it is a folder";
    // Opened for appending, an existing file keeps what it holds until the measurement is done.
    errno = 0;
    FILE* f = std::fopen(path.c_str(), "a");
    if (!f)
        return failed(path, errno);
    std::fclose(f);
    if (!existed)
        std::filesystem::remove(path, ignored);
    return "";
}

std::string files_write_response(const std::string& path, std::span<const response_row> rows)
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

std::string files_write_ir(const std::string& path, int64_t first, std::span<const double> values)
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
