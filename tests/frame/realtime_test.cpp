// Flush-to-zero and denormals-are-zero on the thread that asks for them, and
// on no other.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <thread>

#include "frame/realtime.hpp"

// Operands the compiler cannot know (outside the unnamed namespace, so any call
// may change them), so that every product is computed at run time.
float smallest_normal = FLT_MIN;
float quarter = 0.25f;
float four = 4.0f;

namespace {

TEST(RealtimeThread, SubnormalInputsAndResultsBecomeZeroOnThatThreadOnly)
{
#if !defined(__x86_64__) && !defined(__aarch64__)
    GTEST_SKIP() << "no flush-to-zero control on this processor";
#endif
    const float subnormal = std::ldexp(1.0f, -128);  // a quarter of the smallest normal float
    float before = 0, after = 0, again = 0, input = 0, other = 0;
    std::thread audio([&] {
        before = smallest_normal * quarter;
        realtime_thread_prepare();
        after = smallest_normal * quarter;  // a subnormal result is flushed
        input = subnormal * four;           // a subnormal input reads as zero
        realtime_thread_prepare();          // a second call changes nothing
        again = smallest_normal * quarter;
    });
    audio.join();
    std::thread plain([&] { other = smallest_normal * quarter; });
    plain.join();
    EXPECT_EQ(before, subnormal);
    EXPECT_EQ(after, 0.0f);
    EXPECT_EQ(input, 0.0f);
    EXPECT_EQ(again, 0.0f);
    EXPECT_EQ(other, subnormal);
    EXPECT_EQ(smallest_normal * 0.5f, FLT_MIN / 2.0f);  // this thread was never asked
}

}  // namespace
