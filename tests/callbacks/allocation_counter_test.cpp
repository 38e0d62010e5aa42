// The allocation counter itself: it sees allocations at all, or the zero that
// the callback tests expect would prove nothing.
#include <gtest/gtest.h>

#include <cstdlib>

#include "callbacks/allocation_counter.hpp"

namespace {

void* volatile sink;  // keeps the probe allocations from being optimised away

TEST(AllocationCounter, SeesAllocations)
{
    allocations = 0;
    counting = true;
    int* p = new int(3);
    sink = p;
    delete p;
    EXPECT_EQ(allocations.exchange(0), counts_malloc ? 2 : 1);  // new goes through malloc
    if (counts_malloc) {
        sink = std::malloc(24);
        std::free(sink);
        EXPECT_EQ(allocations.exchange(0), 1);
    }
    counting = false;
}

}  // namespace
