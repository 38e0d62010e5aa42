// The files loopcheck and its modes write: whether each can be, tried before
// anything is measured, and the folders they go into.
#pragma once
#include <string>

// Whether path can be written, tried before measuring: "" or the reason. A
// file that was not there before is not left behind.
std::string files_check_writable(const std::string& path);

// The folder path with its parents, as mkdir -p makes them (nothing to do
// when it is there): "" or the reason, in the system's words.
std::string files_make_folder(const std::string& path);
