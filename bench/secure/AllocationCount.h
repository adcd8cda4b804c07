#pragma once

#include <cstdint>

namespace talvora::bench {

// Heap allocations (malloc, calloc, realloc) made by this program so far, by every thread and
// library: this program's malloc counts, then hands on to the C library's allocator.
std::uint64_t allocationCount();

} // namespace talvora::bench
