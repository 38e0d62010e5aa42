// The FRD writer and reader.
#include "writers/frd.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

// Shortest text that reads back as the same double, locale-free.
std::string exact(double v)
{
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, v);
    return error == std::errc() ? std::string(buffer, end) : "0";
}

// The next number of line from pos on; false when there is none.
bool next_number(const std::string& line, size_t& pos, double& v)
{
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t' || line[pos] == ',' || line[pos] == '\r'))
        pos++;
    if (pos < line.size() && line[pos] == '+')
        pos++;
    const auto [end, error] = std::from_chars(line.data() + pos, line.data() + line.size(), v);
    if (error != std::errc())
        return false;
    pos = static_cast<size_t>(end - line.data());
    return true;
}

}  // namespace

std::string frd_format(std::span<const std::string> comments, std::span<const frd_point> points)
{
    std::string out;
    for (const std::string& comment : comments) {
        std::istringstream lines(comment);
        std::string line;
        while (std::getline(lines, line))
            out += "* " + line + '\n';
    }
    for (const frd_point& p : points)
        if (std::isfinite(p.hz) && std::isfinite(p.db) && std::isfinite(p.deg))
            out += exact(p.hz) + ' ' + exact(p.db) + ' ' + exact(p.deg) + '\n';
    return out;
}

std::string frd_write(const std::string& path, std::span<const std::string> comments, std::span<const frd_point> points)
{
    std::ofstream file(path, std::ios::binary);
    if (!file)
        return path + ": " + std::strerror(errno);
    file << frd_format(comments, points);
    file.close();
    if (!file)
        return path + ": write failed";
    return "";
}

std::string frd_read(const std::string& path, std::vector<frd_point>& points)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return path + ": " + std::strerror(errno);
    points.clear();
    std::string line;
    for (int number = 1; std::getline(file, line); number++) {
        const size_t start = line.find_first_not_of(" \t\r");
        if (start == std::string::npos || line[start] == '*' || line[start] == '#' || line[start] == ';')
            continue;
        frd_point p{};
        size_t pos = 0;
        if (!next_number(line, pos, p.hz) || !next_number(line, pos, p.db))
            return path + ":" + std::to_string(number) + ": not a frequency and a magnitude";
        // The phase is optional in the files that tools write.
        if (!next_number(line, pos, p.deg))
            p.deg = 0.0;
        points.push_back(p);
    }
    return "";
}
