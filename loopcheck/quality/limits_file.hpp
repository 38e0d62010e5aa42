// The --limits file: read from disk, then checked by quality_limits_parse.
#pragma once
#include <string>

#include "analysis/quality_limits.hpp"

// The limits in the file at path. A file that cannot be read gives the
// system's reason ("cannot read: No such file or directory", "... Permission
// denied", "... Is a directory"); one that can, what quality_limits_parse
// finds in its text.
quality_limits limits_file_read(const std::string& path);
