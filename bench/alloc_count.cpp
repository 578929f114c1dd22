// Counts the heap allocations of each thread, so that the benchmark can tell what one exchange
// costs the GUI thread. The executable's own malloc family takes precedence over the C library's
// for the whole process, the Qt libraries included, and hands every call on to the C library.
// Only with the GNU C library.
#include "alloc_count.h"

#include <cstddef>

// A sanitizer brings an allocator of its own: count nothing there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KVOR_SANITIZED_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define KVOR_SANITIZED_ALLOCATOR 1
#endif
#endif

#if defined(__GLIBC__) && !defined(KVOR_SANITIZED_ALLOCATOR)

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);
void __libc_free(void *block);
}

namespace {
// Constant-initialised and in the executable: reading it never allocates.
thread_local unsigned long long t_allocations = 0;
} // namespace

extern "C" void *malloc(size_t size) noexcept {
    ++t_allocations;
    return __libc_malloc(size);
}

extern "C" void *calloc(size_t count, size_t size) noexcept {
    ++t_allocations;
    return __libc_calloc(count, size);
}

extern "C" void *realloc(void *block, size_t size) noexcept {
    ++t_allocations;
    return __libc_realloc(block, size);
}

extern "C" void free(void *block) noexcept {
    __libc_free(block);
}

long long ThreadAllocations() {
    return static_cast<long long>(t_allocations);
}

#else

long long ThreadAllocations() {
    return -1;
}

#endif
