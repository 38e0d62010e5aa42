// FRD response files, as REW, VituixCAD and crossover tools import them: one
// "frequency magnitude_db phase_deg" line per point, in Hz, dB and degrees,
// after comment lines that start with '*'.
#pragma once
#include <span>
#include <string>
#include <vector>

struct frd_point {
    double hz, db, deg;
};

// The file's text: each comment line as "* text" (line breaks in a comment
// start new comment lines), then the points with a point for a decimal mark
// whatever the locale. Points with a non-finite value are left out: the
// importers stop at them.
std::string frd_format(std::span<const std::string> comments, std::span<const frd_point> points);

// Writes frd_format's text to path. "" on success, else the path and the reason.
std::string frd_write(const std::string& path, std::span<const std::string> comments,
                      std::span<const frd_point> points);

// Reads the points of an FRD file (comment lines start with '*', '#' or ';';
// blank lines skipped; separators spaces, tabs or commas). "" on success, else
// the path, the line number and what is wrong.
std::string frd_read(const std::string& path, std::vector<frd_point>& points);
