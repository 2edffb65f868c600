#include "alloc_count.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<int64_t> live{0};

void* take(std::size_t size)
{
    void* p = std::malloc(size ? size : 1);
    if (p)
        live.fetch_add(1, std::memory_order_relaxed);
    return p;
}

void give(void* p) noexcept
{
    if (!p)
        return;
    live.fetch_sub(1, std::memory_order_relaxed);
    std::free(p);
}
}  // namespace

namespace alloccount {
int64_t liveBlocks() { return live.load(std::memory_order_relaxed); }
}  // namespace alloccount

void* operator new(std::size_t size)
{
    if (void* p = take(size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size)
{
    if (void* p = take(size))
        return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return take(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return take(size); }
void operator delete(void* p) noexcept { give(p); }
void operator delete[](void* p) noexcept { give(p); }
void operator delete(void* p, std::size_t) noexcept { give(p); }
void operator delete[](void* p, std::size_t) noexcept { give(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { give(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { give(p); }
