// Counts every allocation of the test program it is linked into: global
// operator new (all forms) and, when no sanitizer owns it, the C allocator.
// Linked into the test programs that check that audio callbacks allocate nothing.
#pragma once
#include <atomic>
#include <cstdint>

extern std::atomic<bool> counting;        // count while true
extern std::atomic<int64_t> allocations;  // allocations counted so far
extern const bool counts_malloc;          // false under AddressSanitizer, which owns malloc
