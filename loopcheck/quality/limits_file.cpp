// The --limits file, read with the C library so that its failure keeps errno:
// opening a folder succeeds on Linux, and its reading fails.
#include "loopcheck/quality/limits_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

quality_limits limits_file_unreadable(int error)
{
    quality_limits limits;
    limits.error = std::string("cannot read: ") + std::strerror(error);
    return limits;
}

}  // namespace

quality_limits limits_file_read(const std::string& path)
{
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return limits_file_unreadable(errno);
    errno = 0;
    std::string text;
    char buffer[65536];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    const int error = std::ferror(file) ? (errno ? errno : EIO) : 0;
    std::fclose(file);
    if (error)
        return limits_file_unreadable(error);
    return quality_limits_parse(text);
}
