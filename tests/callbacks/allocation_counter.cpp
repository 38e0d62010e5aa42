// Replacement allocation functions that count while `counting` is set.
#include "callbacks/allocation_counter.hpp"

#include <cerrno>
#include <cstdlib>
#include <new>

std::atomic<bool> counting{false};
std::atomic<int64_t> allocations{0};

namespace {

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
extern const bool counts_malloc = true;
#else
extern const bool counts_malloc = false;
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
