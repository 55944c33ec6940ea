#include "legacy_fixture.h"

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define NAMETREE_PROBE_OFF 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define NAMETREE_PROBE_OFF 1
#endif

namespace {

std::atomic<bool> g_watching{false};
std::atomic<std::size_t> g_largest{0};

[[maybe_unused]] void Note(std::size_t size) {
  if (!g_watching.load(std::memory_order_relaxed)) return;
  std::size_t seen = g_largest.load(std::memory_order_relaxed);
  while (size > seen && !g_largest.compare_exchange_weak(seen, size)) {
  }
}

}  // namespace

namespace nametree::test {

AllocationProbe::AllocationProbe() {
  g_largest = 0;
  g_watching = true;
}
AllocationProbe::~AllocationProbe() { g_watching = false; }
std::size_t AllocationProbe::Largest() const { return g_largest; }

#ifdef NAMETREE_PROBE_OFF
bool AllocationProbe::Available() { return false; }
#else
bool AllocationProbe::Available() { return true; }
#endif

}  // namespace nametree::test

#ifndef NAMETREE_PROBE_OFF

// The array forms reach these through the standard library's own.
void* operator new(std::size_t size) {
  Note(size);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  Note(size);
  return std::malloc(size ? size : 1);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }

#endif
