// Morvane's callback allocates nothing: every allocation path of this test
// program (global operator new and delete, and the C allocator when no
// sanitizer owns it) is counted while the callback runs.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>

#include "morvane_fixture.hpp"

namespace {

std::atomic<bool> counting{false};
std::atomic<int64_t> allocations{0};

void note_allocation()
{
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

// ---- C allocator: forwarded to glibc's own entry points ---------------------------
// AddressSanitizer replaces malloc itself, so these are left out under it.
#if !defined(__SANITIZE_ADDRESS__)
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* pointer);

void* malloc(size_t size)
{
    note_allocation();
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size)
{
    note_allocation();
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size)
{
    note_allocation();
    return __libc_realloc(pointer, size);
}
void* aligned_alloc(size_t alignment, size_t size)
{
    note_allocation();
    return __libc_memalign(alignment, size);
}
void* memalign(size_t alignment, size_t size)
{
    note_allocation();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** result, size_t alignment, size_t size)
{
    note_allocation();
    void* p = __libc_memalign(alignment, size);
    if (!p)
        return ENOMEM;
    *result = p;
    return 0;
}
void free(void* pointer) { __libc_free(pointer); }
}
constexpr bool counts_malloc = true;
#else
constexpr bool counts_malloc = false;
#endif

// ---- C++ allocator --------------------------------------------------------------------

namespace {

void* counted_new(size_t size)
{
    note_allocation();
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void* counted_aligned_new(size_t size, std::align_val_t alignment)
{
    note_allocation();
    const size_t a = static_cast<size_t>(alignment);
    if (void* p = std::aligned_alloc(a, (size + a - 1) / a * a))
        return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(size_t size) { return counted_new(size); }
void* operator new[](size_t size) { return counted_new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void* operator new(size_t size, std::align_val_t a) { return counted_aligned_new(size, a); }
void* operator new[](size_t size, std::align_val_t a) { return counted_aligned_new(size, a); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { std::free(p); }

namespace {

void* volatile sink;  // keeps the probe allocations below from being optimised away

class MorvaneCallbackAllocation : public MorvaneTest {
protected:
    void TearDown() override
    {
        counting = false;
        MorvaneTest::TearDown();
    }
};

// The counters see allocations at all, or a zero below would prove nothing.
TEST_F(MorvaneCallbackAllocation, CountersSeeAllocations)
{
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

// From the clearing first call on, through a loop and the software loopback,
// with the snapshot published, then frozen, then published again, in buffers
// of one frame and of 64.
TEST_F(MorvaneCallbackAllocation, CallbackAllocatesNothing)
{
    float in[2 * 64] = {};
    float out[2 * 64] = {};
    float echo[4096] = {};  // the loop: input = output 300 frames ago
    int64_t t = 0;
    allocations = 0;
    counting = true;
    snapshot_release();
    for (int64_t call = 0; call < 90000; call++) {
        if (call == 30000)
            snapshot_freeze();
        if (call == 45000)
            snapshot_release();
        if (call == 60000)
            loopback_mode = 0;
        in[0] = echo[(t - 300) & 4095];
        in[1] = 0.5f;
        response_callback(in, out, 1, nullptr, 0, nullptr);
        echo[t & 4095] = out[0];
        t++;
    }
    for (int64_t call = 0; call < 100; call++)
        response_callback(in, out, 64, nullptr, 0, nullptr);
    response_callback(nullptr, nullptr, 1, nullptr, 0, nullptr);
    counting = false;
    EXPECT_EQ(allocations.load(), 0);
    EXPECT_NE(response::tap_weights[300], 0.0f);  // the callback did run its model
}

}  // namespace
