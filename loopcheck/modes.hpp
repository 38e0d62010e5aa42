// The mode table: every mode loopcheck has, one row each, in the order the
// session runs them. A mode is added here by one row (and its folder and
// library in CMakeLists.txt): docs/layout.md, "Adding a mode".
#pragma once
#include <span>

#include "loopcheck/mode.hpp"

// The modes in the session's order: the latency first (the others play on
// the loops it found), a live one last but for one that takes the session alone.
std::span<const mode_row> loopcheck_modes();

// The option table: the session's stream options, its output options, each
// mode's rows in the table's order, then --help and --version.
std::span<const option_row> loopcheck_option_rows();
