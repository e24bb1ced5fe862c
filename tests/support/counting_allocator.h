// SPDX-License-Identifier: Apache-2.0
#pragma once
// Counts heap allocations by replacing the global operator new. Include it in
// exactly one source file of a program; AllocationCount() reads the count.

#include <atomic>
#include <cstdlib>
#include <new>

// The replacements pair malloc with free; GCC cannot see that once it inlines them.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace vorlan_test {
inline std::atomic<long> g_allocations{0};
inline long AllocationCount() { return g_allocations.load(std::memory_order_relaxed); }
}  // namespace vorlan_test

void* operator new(std::size_t size) {
    vorlan_test::g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size != 0 ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    vorlan_test::g_allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size != 0 ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
