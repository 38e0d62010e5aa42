// Whether two floats have the same bits: results that must not differ even in
// the last place, NaN's payload included.
#pragma once
#include <cstring>

inline bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }
