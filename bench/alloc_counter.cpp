#include "alloc_counter.h"

#include <cstdlib>
#include <new>

namespace quillet::bench {

AllocCounters& Allocs() {
    static AllocCounters counters;
    return counters;
}

} // namespace quillet::bench

namespace {

// A header in front of every block holds its size (and keeps the pointers distinct from malloc's own).
constexpr std::size_t kHeader = alignof(std::max_align_t);

void* CountedAlloc(std::size_t size) {
    void* raw = std::malloc(size + kHeader);
    if (raw == nullptr) return nullptr;
    *static_cast<std::size_t*>(raw) = size;
    auto& c = quillet::bench::Allocs();
    c.allocations.fetch_add(1, std::memory_order_relaxed);
    const std::size_t live = c.liveBytes.fetch_add(size, std::memory_order_relaxed) + size;
    std::size_t peak = c.peakBytes.load(std::memory_order_relaxed);
    while (live > peak && !c.peakBytes.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
    }
    return static_cast<char*>(raw) + kHeader;
}

// Kept out of line: inlined into operator delete, the compiler would pair the free with the new it sees and warn.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
void CountedFree(void* p) noexcept {
    if (p == nullptr) return;
    void* raw = static_cast<char*>(p) - kHeader;
    quillet::bench::Allocs().liveBytes.fetch_sub(*static_cast<std::size_t*>(raw), std::memory_order_relaxed);
    std::free(raw);
}

} // namespace

void* operator new(std::size_t size) {
    if (void* p = CountedAlloc(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = CountedAlloc(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return CountedAlloc(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return CountedAlloc(size); }
void operator delete(void* p) noexcept { CountedFree(p); }
void operator delete[](void* p) noexcept { CountedFree(p); }
void operator delete(void* p, std::size_t) noexcept { CountedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { CountedFree(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { CountedFree(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { CountedFree(p); }
