#include "AllocationCount.h"

#include <atomic>
#include <cstddef>

// glibc's own entry points; this program's definitions below take the place of malloc and
// friends for the program and every library it loads, and forward to these. Memory from either
// is the same allocator's, so whichever free() is called is right.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void __libc_free(void* p);
}

namespace {
std::atomic<std::uint64_t> g_allocations{0};
}

extern "C" {
void* malloc(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, size);
}
void free(void* p) {
    __libc_free(p);
}
}

namespace talvora::bench {

std::uint64_t allocationCount() {
    return g_allocations.load(std::memory_order_relaxed);
}

} // namespace talvora::bench
