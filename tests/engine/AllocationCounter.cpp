#include "AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace {
thread_local bool gCounting = false;
thread_local int gAllocations = 0;
} // namespace

namespace tarnvel::engine::test {
void startCountingAllocations()
{
    gAllocations = 0;
    gCounting = true;
}
int stopCountingAllocations()
{
    gCounting = false;
    return gAllocations;
}
} // namespace tarnvel::engine::test

void* operator new(std::size_t n)
{
    if (gCounting)
        ++gAllocations;
    if (void* p = std::malloc(n == 0 ? 1 : n))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n)
{
    return operator new(n);
}
// The nothrow forms too: left to the library, their memory would be released by the free
// below (a mismatch the address sanitizer reports).
void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
    if (gCounting)
        ++gAllocations;
    return std::malloc(n == 0 ? 1 : n);
}
void* operator new[](std::size_t n, const std::nothrow_t& tag) noexcept
{
    return operator new(n, tag);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}
