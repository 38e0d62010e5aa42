// Flush-to-zero and denormals-are-zero for the audio thread.
#include "frame/realtime.hpp"

#if defined(__x86_64__) || defined(_M_X64)
#include <pmmintrin.h>
#include <xmmintrin.h>
#endif

namespace {

#if defined(__x86_64__) || defined(_M_X64)
constexpr unsigned flush_bits = _MM_FLUSH_ZERO_ON | _MM_DENORMALS_ZERO_ON;  // MXCSR bits 15 and 6
unsigned control_read() { return _mm_getcsr(); }
void control_write(unsigned value) { _mm_setcsr(value); }
#elif defined(__aarch64__)
constexpr unsigned long flush_bits = 1ul << 24;  // FPCR.FZ: subnormal inputs and results are zero
unsigned long control_read()
{
    unsigned long value;
    __asm__ volatile("mrs %0, fpcr" : "=r"(value));
    return value;
}
void control_write(unsigned long value) { __asm__ volatile("msr fpcr, %0" : : "r"(value)); }
#endif

}  // namespace

void realtime_thread_prepare()
{
#if defined(__x86_64__) || defined(_M_X64) || defined(__aarch64__)
    const auto value = control_read();
    if ((value & flush_bits) != flush_bits)
        control_write(value | flush_bits);
#endif
}
