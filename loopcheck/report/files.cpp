// The checks that the files can be written, before anything is measured.
#include "loopcheck/report/files.hpp"

#include <cerrno>
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
