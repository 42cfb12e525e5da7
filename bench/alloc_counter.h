// Heap accounting for the benchmarks: linking alloc_counter.cpp replaces the global operator new and delete with
// malloc-backed ones that count allocations and the live and peak bytes (exact to the byte, without malloc's own
// overhead).
#pragma once

#include <atomic>
#include <cstddef>

namespace quillet::bench {

struct AllocCounters {
    std::atomic<std::size_t> allocations{0};
    std::atomic<std::size_t> liveBytes{0};
    std::atomic<std::size_t> peakBytes{0};
};

AllocCounters& Allocs();

} // namespace quillet::bench
