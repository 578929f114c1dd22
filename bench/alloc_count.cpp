// Counts the heap allocations of each thread, so that the benchmark can tell what one exchange
// costs the GUI thread. The executable's own malloc family takes precedence over the C library's
// for the whole process, the Qt libraries included, and hands every call on to the C library.
// Only with the GNU C library.
#include "alloc_count.h"

#include <cstddef>
#include <cstdio>

#include <dlfcn.h>
#include <execinfo.h>

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

// The traced stacks, in memory set aside beforehand: keeping one must not allocate.
constexpr int kTraceDepth = 16, kTraceMax = 100000;
thread_local bool t_tracing = false, t_inTrace = false;
void *g_stacks[kTraceMax][kTraceDepth];
int g_stackDepth[kTraceMax];
int g_stackCount = 0;

inline void KeepStack() {
    // backtrace() allocates the first time it runs: that allocation is not traced.
    if (!t_tracing || t_inTrace || g_stackCount >= kTraceMax) return;
    t_inTrace = true;
    g_stackDepth[g_stackCount] = backtrace(g_stacks[g_stackCount], kTraceDepth);
    ++g_stackCount;
    t_inTrace = false;
}
} // namespace

void TraceAllocations(bool on) {
    if (on) g_stackCount = 0;
    t_tracing = on;
}

bool WriteAllocationSites(const char *path) {
    FILE *out = std::fopen(path, "w");
    if (!out) return false;
    for (int i = 0; i < g_stackCount; ++i) {
        // From the allocation function's caller on (the script passes over the allocators).
        for (int k = 1; k < g_stackDepth[i]; ++k) {
            Dl_info where;
            const char *at = static_cast<const char *>(g_stacks[i][k]);
            if (dladdr(g_stacks[i][k], &where) && where.dli_fname)
                std::fprintf(out, "%s+%lx ", where.dli_fname,
                             static_cast<unsigned long>(at - static_cast<const char *>(where.dli_fbase)));
            else
                std::fprintf(out, "?+%lx ", reinterpret_cast<unsigned long>(at));
        }
        std::fputc('\n', out);
    }
    return std::fclose(out) == 0;
}

extern "C" void *malloc(size_t size) noexcept {
    ++t_allocations;
    KeepStack();
    return __libc_malloc(size);
}

extern "C" void *calloc(size_t count, size_t size) noexcept {
    ++t_allocations;
    KeepStack();
    return __libc_calloc(count, size);
}

extern "C" void *realloc(void *block, size_t size) noexcept {
    ++t_allocations;
    KeepStack();
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

void TraceAllocations(bool) {}

bool WriteAllocationSites(const char *) {
    return false;
}

#endif
